#include <gtest/gtest.h>

#include <string>

#include "diag/crash_handler.h"
#include "diag/crash_trigger.h"
#include "diag/log.h"
#include "diag/sanitizer_build.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

namespace fs = std::filesystem;

using test::TestLog;

size_t Count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

size_t DumpCount() {
  std::error_code ec;
  size_t n = 0;
  for (fs::directory_iterator it(CrashDumpFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == test::DumpExtension())
      ++n;
  }
  return n;
}

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
  const size_t dumpsBefore = DumpCount();
  EXPECT_DEATH(
      {
        InstallCrashHandler();
        test::TriggerAccessViolation();
      },
      "");
  const std::string log = TestLog();
  const size_t at = log.find(":crash:FAULT] [VEH] fatal exception ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(line.find(test::AccessViolationCodeText()), std::string::npos) << line;
  EXPECT_NE(line.find("module=sv_crash_handler_tests"), std::string::npos) << line;
  EXPECT_NE(line.find("+0x"), std::string::npos) << line;
  EXPECT_EQ(line.find("+0x0 "), std::string::npos) << "offset inside the faulting module";
  EXPECT_EQ(DumpCount(), dumpsBefore + 1);
}

}  // namespace
}  // namespace Sorvane
