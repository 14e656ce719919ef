#pragma once
#include <cstddef>
#include <string>

#include "base/host_kind.h"
#include "diag/log.h"
#include "support/temp_profile.h"

namespace Sorvane::test {

// This process's plug-in log file as it stands.
inline std::string LogText() {
  return ReadFile(LogFolder() / LogFileNameFor(DetectHost()));
}

// How many times `what` occurs in `text`.
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

}  // namespace Sorvane::test
