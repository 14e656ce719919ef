#include "support/skip_policy.h"

#include <cstring>

namespace Sorvane::test {
namespace {

bool NameMatches(const std::string& test, const char* pattern) {
  const size_t length = std::strlen(pattern);
  if (length > 0 && pattern[length - 1] == '*')
    return test.compare(0, length - 1, pattern, length - 1) == 0;
  return test == pattern;
}

}  // namespace

bool IsAllowedSkip(const std::string& test, const std::string& reason,
                   std::span<const AllowedSkip> allowed) {
  for (const AllowedSkip& entry : allowed) {
    if (NameMatches(test, entry.testPattern) && reason.rfind(entry.reasonPrefix, 0) == 0)
      return true;
  }
  return false;
}

bool RunningInCi(const char* ciValue) {
  if (ciValue == nullptr)
    return false;
  const std::string value = ciValue;
  return !value.empty() && value != "0" && value != "false";
}

}  // namespace Sorvane::test
