#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace Sorvane {

// Text received from a client, made safe for one log line: control bytes (below 0x20, and 0x7F)
// become "\xNN", so a phone's name cannot start a forged line.
std::string LogSafeText(std::string_view text);

// A path as UTF-8 for a log line. Never throws: a Windows name that is not valid UTF-16 (a lone
// surrogate) shows U+FFFD where the narrow conversions of the standard library would throw.
std::string PathForLog(const std::filesystem::path& path);

}  // namespace Sorvane
