#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diag/socket_error.h"

namespace Sorvane {

std::string SocketErrorTextFor(int code) {
  char buffer[128];
  // GNU strerror_r returns the text, possibly not in `buffer`.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0) {
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "socket error %d", code);
    return fallback;
  }
  std::string result(text);
  while (!result.empty() &&
         (result.back() == '\r' || result.back() == '\n' || result.back() == ' '))
    result.pop_back();
  return result;
}

std::string SocketErrorText() {
  return SocketErrorTextFor(errno);
}

}  // namespace Sorvane
