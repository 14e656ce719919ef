#pragma once
#include <string>

namespace Sorvane {

// One-line text of the calling thread's last socket error (Winsock's last error on Windows,
// errno elsewhere); "WSA error <n>" / "socket error <n>" when the system has no text.
std::string SocketErrorText();

// The same for an explicit code (exposed for tests).
std::string SocketErrorTextFor(int code);

}  // namespace Sorvane
