#pragma once
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "diag/crash_handler.h"
#include "support/temp_profile.h"

namespace Sorvane::test {

// The dump files in the crash folder now.
inline std::set<std::filesystem::path> DumpFiles(const std::string& extension) {
  std::set<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(CrashDumpFolder(), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() == extension)
      files.insert(it->path());
  }
  return files;
}

// The contents of the dumps that are in the folder now but were not in `before`.
inline std::vector<std::string> NewDumps(const std::set<std::filesystem::path>& before,
                                         const std::string& extension) {
  std::vector<std::string> dumps;
  for (const auto& file : DumpFiles(extension)) {
    if (before.count(file) == 0)
      dumps.push_back(ReadFile(file));
  }
  return dumps;
}

}  // namespace Sorvane::test
