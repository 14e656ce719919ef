#pragma once
#include <string>

namespace Sorvane::hostsim {

// Gives this run a profile of its own: the roaming and local application-data folders become
// DIR/roaming and DIR/local (created here), for the plug-ins' state, logs and crash dumps.
// False with `error` set when the folders cannot be made.
bool UseRunProfile(const std::string& dir, std::string* error);

}  // namespace Sorvane::hostsim
