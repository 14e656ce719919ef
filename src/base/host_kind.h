#pragma once
#include <cstdint>
#include <string>

namespace Sorvane {

// Which host application loaded the plug-in; decided once per process from the executable's name.
enum class HostKind : int32_t { PremierePro = 0, AfterEffects = 1, MediaEncoder = 2, Unknown = 3 };

HostKind DetectHost();
const char* HostDisplayName(HostKind kind);
uint16_t ControlPortForHost(HostKind kind);
// "" for Premiere Pro, "ae", "ame", else "x": keeps per-host files and ids apart.
std::string HostFileSuffix(HostKind kind);

// Exposed for tests: the classification of an executable path (either separator).
HostKind ClassifyHostExecutable(const std::string& path);

// The full path of the running executable (UTF-8), empty when it cannot be read.
std::string HostExecutablePath();

}  // namespace Sorvane
