#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "sv-host/run_profile.h"

namespace Sorvane::hostsim {

bool UseRunProfile(const std::string& dir, std::string* error) {
  const std::filesystem::path root = std::filesystem::absolute(dir);
  std::error_code ec;
  std::filesystem::create_directories(root / "roaming", ec);
  std::filesystem::create_directories(root / "local", ec);
  if (ec) {
    *error = "cannot create the profile folders in " + root.string() + ": " + ec.message();
    return false;
  }
  const std::string roaming = (root / "roaming").string();
  const std::string local = (root / "local").string();
  setenv("APPDATA", roaming.c_str(), 1);
  setenv("XDG_CONFIG_HOME", roaming.c_str(), 1);
  setenv("LOCALAPPDATA", local.c_str(), 1);
  setenv("XDG_STATE_HOME", local.c_str(), 1);
  return true;
}

}  // namespace Sorvane::hostsim
