#pragma once
#include <filesystem>
#include <string>

#include "diag/log.h"
#include "store/app_paths.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane::test {

// Each store test starts without state files.
inline void ForgetState() {
  std::error_code ec;
  std::filesystem::remove_all(AppSupportDir(), ec);
}

inline size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

}  // namespace Sorvane::test
