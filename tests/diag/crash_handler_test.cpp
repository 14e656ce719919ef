#include <gtest/gtest.h>

#include <string>

#include "diag/crash_dump_files.h"
#include "diag/crash_handler.h"
#include "diag/crash_trigger.h"
#include "diag/log.h"
#include "diag/sanitizer_build.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

using test::Count;
using test::TestLog;

// Runs before any other test of this process installs the handler (death tests run in children).
TEST(CrashHandler, InstallIsIdempotent) {
  const size_t before = Count(TestLog(), "crash handler installed");
  InstallCrashHandler();
  InstallCrashHandler();
  EXPECT_EQ(Count(TestLog(), "crash handler installed"), before + 1);
}

TEST(CrashHandler, HarmlessEventsLeaveNothing) {
  if (const char* why = test::NoHarmlessEventReason())
    GTEST_SKIP() << why;
  InstallCrashHandler();
  const std::string before = TestLog();
  test::TriggerHarmlessEvent();
  EXPECT_EQ(Count(TestLog(), "fatal exception"), Count(before, "fatal exception"));
}

TEST(CrashHandlerDeathTest, FaultLeavesFaultLineAndDump) {
  if (test::SanitizerOwnsFatalSignals())
    GTEST_SKIP() << "the sanitizer handles fatal signals itself in this build";
  const auto dumpsBefore = test::DumpFiles(test::DumpExtension());
  EXPECT_DEATH(
      {
        InstallCrashHandler();
        test::TriggerAccessViolation();
      },
      "");
  const std::string log = TestLog();
  EXPECT_EQ(Count(log, ":crash:FAULT] [VEH] fatal exception "), 1u) << log;
  const size_t at = log.find(":crash:FAULT] [VEH] fatal exception ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(line.find(test::AccessViolationCodeText()), std::string::npos) << line;
  EXPECT_NE(line.find("module=sv_crash_handler_tests"), std::string::npos) << line;
  EXPECT_NE(line.find("+0x"), std::string::npos) << line;
  EXPECT_EQ(line.find("+0x0 "), std::string::npos) << "offset inside the faulting module";
  const auto dumps = test::NewDumps(dumpsBefore, test::DumpExtension());
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0].rfind(test::DumpSignature(), 0), 0u) << "the dump starts with its signature";
}

}  // namespace
}  // namespace Sorvane
