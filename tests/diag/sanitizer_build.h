#pragma once

namespace Sorvane::test {

// AddressSanitizer and ThreadSanitizer take the fatal signals for themselves (and the deliberate
// faults are undefined behaviour that UndefinedBehaviorSanitizer stops at first), so a crash
// handler cannot be observed in such a build.
constexpr bool SanitizerOwnsFatalSignals() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

}  // namespace Sorvane::test
