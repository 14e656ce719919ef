#include <windows.h>
#include <winsock2.h>

#include <cstdio>

#include "diag/socket_error.h"

namespace Sorvane {

std::string SocketErrorTextFor(int code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 1024, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) {
    if (text != nullptr)
      LocalFree(text);
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "WSA error %d", code);
    return fallback;
  }
  std::string result(text, n);
  LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\r' || result.back() == '\n' || result.back() == ' '))
    result.pop_back();
  return result;
}

std::string SocketErrorText() {
  return SocketErrorTextFor(WSAGetLastError());
}

}  // namespace Sorvane
