#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/host_kind.h"
#include "diag/log.h"
#include "support/temp_profile.h"

namespace Sorvane::test {

// A place in this process's plug-in log. Checks read what was written after it, so a line that an
// earlier test wrote can never satisfy a later one.
struct LogMark {
  uintmax_t offset = 0;
};

// This process's plug-in log file.
inline std::filesystem::path PluginLogPath() {
  return LogFolder() / LogFileNameFor(DetectHost());
}

// Where the log ends now.
LogMark MarkLog();

// What the log gained since `mark`. When the log was rotated in between, the archive's part after
// the mark comes first.
std::string LogSince(const LogMark& mark);

// What the log gained since the current test started (the test main marks it at each start).
std::string TestLog();

// How many times `what` occurs in `text`.
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

}  // namespace Sorvane::test
