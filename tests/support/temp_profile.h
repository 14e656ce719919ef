#pragma once
#include <filesystem>
#include <string>

namespace Sorvane::test {

// The fresh per-program profile folder that the test main created (APPDATA, LOCALAPPDATA and the
// XDG folders all point inside it).
const std::filesystem::path& ProfileRoot();

// A new empty folder inside the profile, for one test.
std::filesystem::path MakeTempDir(const std::string& label);

// Sets (or, with null, removes) an environment variable for this process.
void SetEnv(const char* name, const char* value);

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace Sorvane::test
