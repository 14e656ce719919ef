#pragma once
#include <string>
#include <string_view>

namespace Sorvane {

// Text received from a client, made safe for one log line: control bytes (below 0x20, and 0x7F)
// become "\xNN", so a phone's name cannot start a forged line.
std::string LogSafeText(std::string_view text);

}  // namespace Sorvane
