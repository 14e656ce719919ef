#include "encoder/utf_text_win.h"

#include <windows.h>

namespace Sorvane {

std::string CappedUtf8(const wchar_t* text, size_t maxBytes) {
  if (text == nullptr || *text == L'\0')
    return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1)
    return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(length - 1));
  if (utf8.size() > maxBytes) {
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
      --cut;
    utf8.resize(cut);
  }
  return utf8;
}

}  // namespace Sorvane
