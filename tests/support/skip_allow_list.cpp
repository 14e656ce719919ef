#include "support/skip_policy.h"

namespace Sorvane::test {

// Every skip that CI may take. A skip not listed here fails the program when CI is set: a feature
// that did not run must never pass for one that works.
std::span<const AllowedSkip> AllowedSkips() {
  static const AllowedSkip kAllowed[] = {
      // The sanitizer builds install their own fatal-signal handlers; the plain builds run these.
      {"CrashHandlerDeathTest.*", "the sanitizer handles fatal signals itself in this build"},
      {"CrashSignals.*", "the sanitizer handles fatal signals itself in this build"},
      // POSIX has no first-chance exceptions; the Windows build runs this one under Wine.
      {"CrashHandler.HarmlessEventsLeaveNothing", "POSIX has no first-chance exceptions"},
      // Real Windows 10 1903 and later: the test of the missing DNS-SD functions runs under Wine.
      {"DnsSdAdvertiser.TheRealDnsapiIsLookedUpAtRunTime", "this Windows has the DNS-SD service functions"},
      // A machine with a GPU opens a hardware HEVC encoder; CI machines have none.
      {"PushPathTest.ThePlatformEncoderStreamsH264AboveTheSoftwareHevcCap", "a hardware HEVC encoder opened here"},
      // A processor without SSSE3 runs only the plain kernel, which every other test covers.
      {"CauchyCode.VectorKernelsGiveThePlainBytes", "only the plain kernel runs here"},
  };
  return kAllowed;
}

}  // namespace Sorvane::test
