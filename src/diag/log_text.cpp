#include "diag/log_text.h"

#include <cstdio>

#include "base/utf8_text.h"

namespace Sorvane {

std::string LogSafeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string PathForLog(const std::filesystem::path& path) {
  const auto& native = path.native();
  if constexpr (sizeof(native[0]) == 1) {
    return std::string(native.begin(), native.end());
  } else {
    return Utf8FromUtf16(std::u16string(native.begin(), native.end()));
  }
}

}  // namespace Sorvane
