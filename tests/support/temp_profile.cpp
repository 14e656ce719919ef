#include "support/temp_profile.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace Sorvane::test {
namespace {
std::filesystem::path& Root() {
  static std::filesystem::path root;
  return root;
}

// Where the programs' profiles go: the build tree's folder that ctest names, so that nothing a
// test program leaves (a file a background thread still holds at exit cannot be removed on
// Windows) lands in a user profile or the Wine prefix; else the temporary folder.
std::filesystem::path ProfilesFolder() {
  const char* given = std::getenv("SV_TEST_PROFILES");
  if (given == nullptr || *given == '\0')
    return std::filesystem::temp_directory_path();
  std::string folder = given;
#if defined(_WIN32)
  if (folder[0] == '/')
    folder = "Z:" + folder;  // a Linux path, as ctest passes it under Wine
#endif
  std::filesystem::create_directories(folder);
  return folder;
}
}  // namespace

// Death-test children re-run the program: they join their parent's profile instead of making one.
bool CreateProfileRoot() {
  if (const char* inherited = std::getenv("SV_TEST_PROFILE_ROOT")) {
    Root() = inherited;
    return false;
  }
  std::random_device rd;
  const auto base = ProfilesFolder();
  std::filesystem::path root;
  do {
    root = base / ("sorvane-test-" + std::to_string(rd()));
  } while (std::filesystem::exists(root));
  std::filesystem::create_directories(root / "roaming");
  std::filesystem::create_directories(root / "local");
  Root() = root;
  const std::string roaming = (root / "roaming").string();
  const std::string local = (root / "local").string();
  SetEnv("APPDATA", roaming.c_str());
  SetEnv("LOCALAPPDATA", local.c_str());
  SetEnv("XDG_CONFIG_HOME", roaming.c_str());
  SetEnv("XDG_STATE_HOME", local.c_str());
  const std::string rootText = root.string();
  SetEnv("SV_TEST_PROFILE_ROOT", rootText.c_str());
  return true;
}

const std::filesystem::path& ProfileRoot() {
  return Root();
}

std::filesystem::path MakeTempDir(const std::string& label) {
  static std::atomic<int> counter{0};
  auto dir = Root() / "tmp" / (label + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  return dir;
}

void SetEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace Sorvane::test
