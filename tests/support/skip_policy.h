#pragma once
#include <span>
#include <string>

namespace Sorvane::test {

// A skip that CI accepts: a test name (an exact name, or a prefix ending in '*') and the start of
// the reason the test gives. Each entry of the list carries a comment saying why it may skip.
struct AllowedSkip {
  const char* testPattern;
  const char* reasonPrefix;
};

// The skips CI accepts (skip_allow_list.cpp).
std::span<const AllowedSkip> AllowedSkips();

// True when `test` skipping with `reason` matches an entry of `allowed`.
bool IsAllowedSkip(const std::string& test, const std::string& reason,
                   std::span<const AllowedSkip> allowed);

// True when the CI variable is set to anything but empty, "0" or "false".
bool RunningInCi(const char* ciValue);

}  // namespace Sorvane::test
