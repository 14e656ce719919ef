// The crashes that most need a dump are the ones that leave the handler the least to work with:
// a corrupt heap and an exhausted stack. Each must still leave exactly one Fault line and a real
// minidump.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "diag/crash_dump_files.h"
#include "diag/crash_handler.h"
#include "support/plugin_log.h"

namespace Sorvane {
namespace {

constexpr DWORD kHeapCorruption = 0xC0000374;

// Wine's HeapFree reports a double free instead of raising, so the heap check's exception is
// raised the way the system raises it.
void RaiseHeapCorruption() {
  RaiseException(kHeapCorruption, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// Recursion that the optimiser cannot fold away.
int Deeper(volatile int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  return Deeper(depth + 1) + frame[0];
}

DWORD WINAPI Overflow(LPVOID) {
  return static_cast<DWORD>(Deeper(0));
}

// A thread that never prepared itself for crashes (as every host thread is).
void OverflowTheStackOfAFreshThread() {
  HANDLE thread = CreateThread(nullptr, 0, Overflow, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
}

struct FatalCase {
  const char* name;
  void (*trigger)();
  const char* code;
};

void PrintTo(const FatalCase& fatal, std::ostream* out) {
  *out << fatal.name;
}

class CrashDumpDeathTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(CrashDumpDeathTest, LeavesOneFaultLineAndAMinidump) {
  const FatalCase fatal = GetParam();
  const auto before = test::DumpFiles(".dmp");
  EXPECT_DEATH(
      {
        InstallCrashHandler();
        fatal.trigger();
      },
      "");
  const std::string log = test::TestLog();
  EXPECT_EQ(test::Count(log, ":crash:FAULT] [VEH] fatal exception "), 1u) << log;
  EXPECT_EQ(test::Count(log, std::string("fatal exception ") + fatal.code), 1u) << log;
  const auto dumps = test::NewDumps(before, ".dmp");
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0].substr(0, 4), "MDMP") << "a minidump, not an empty or cut-off file";
  EXPECT_GT(dumps[0].size(), 1024u);
}

INSTANTIATE_TEST_SUITE_P(
    Fatal, CrashDumpDeathTest,
    ::testing::Values(FatalCase{"HeapCorruption", RaiseHeapCorruption, "code=0xC0000374"},
                      FatalCase{"StackOverflow", OverflowTheStackOfAFreshThread,
                                "code=0xC00000FD"}),
    [](const ::testing::TestParamInfo<FatalCase>& info) { return info.param.name; });

LONG CALLBACK ResumeAfterOurAccessViolation(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

// Exceptions the host handles itself still leave their line, but a host that takes thousands of
// them (probing memory, say) must not fill the disk with ours: a burst, then about one a second.
TEST(CrashHandlerLines, HandledFaultsAreRateLimited) {
  InstallCrashHandler();
  constexpr int kRaised = 400;
  void* resume = AddVectoredExceptionHandler(0, ResumeAfterOurAccessViolation);
  for (int i = 0; i < kRaised; ++i)
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(resume);
  const std::string log = test::TestLog();
  const size_t lines = test::Count(log, ":crash:FAULT] [VEH] fatal exception code=0xC0000005");
  EXPECT_GE(lines, 1u) << "handled exceptions are still logged";
  EXPECT_LT(lines, static_cast<size_t>(kRaised / 2)) << log;
}

}  // namespace
}  // namespace Sorvane
