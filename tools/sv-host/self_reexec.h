#pragma once
#include <optional>
#include <string>
#include <vector>

namespace Sorvane::hostsim {

// Runs this program again from a copy named `executableName` (so a plug-in sees that host name)
// with `args`, and returns its exit code; nullopt when the copy or the start failed.
std::optional<int> RerunAs(const std::string& executableName, const std::vector<std::string>& args,
                           std::string* error);

}  // namespace Sorvane::hostsim
