#include "ui/wide_text.h"

#include <windows.h>

namespace Sorvane {

std::wstring ToWide(const std::string& text) {
  if (text.empty())
    return {};
  const int length = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (n <= 0)
    return {};
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), n);
  return wide;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0)
    return {};
  std::string utf8(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

}  // namespace Sorvane
