#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "support/known_folders.h"
#include "sv-host/run_profile.h"

namespace Sorvane::hostsim {
namespace {

// A Unix path (as the test scripts give it under Wine) is reached through the Z: drive.
std::filesystem::path WindowsPath(const std::string& text) {
  std::string p = text;
  if (!p.empty() && p[0] == '/')
    p = "Z:" + p;
  for (char& c : p) {
    if (c == '/')
      c = '\\';
  }
  return std::filesystem::path(p);
}

}  // namespace

// The process environment is the program's own (Wine rewrites APPDATA when it starts a program),
// and the known folders of this program and of every module it loads follow it.
bool UseRunProfile(const std::string& dir, std::string* error) {
  const std::filesystem::path root = WindowsPath(dir);
  std::error_code ec;
  std::filesystem::create_directories(root / L"roaming", ec);
  std::filesystem::create_directories(root / L"local", ec);
  if (ec) {
    *error = "cannot create the profile folders in " + dir + ": " + ec.message();
    return false;
  }
  _wputenv_s(L"APPDATA", (root / L"roaming").c_str());
  _wputenv_s(L"LOCALAPPDATA", (root / L"local").c_str());
  test::RedirectKnownFoldersOfThisProgram();
  return true;
}

}  // namespace Sorvane::hostsim
