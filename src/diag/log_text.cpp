#include "diag/log_text.h"

#include <cstdio>

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

}  // namespace Sorvane
