#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "support/known_folders.h"
#include "support/skip_policy.h"
#include "support/temp_profile.h"

namespace Sorvane::test {
bool CreateProfileRoot();
void MarkTestStart();

namespace {

struct SkipRecord {
  std::string test;
  std::string reason;
  bool allowed = false;
};

// Marks the log at each test's start and collects the skips with their reasons.
class SkipAndLogListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    MarkTestStart();
    reason_.clear();
  }
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (result.skipped() && reason_.empty())
      reason_ = result.message() ? result.message() : "";
  }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    if (!info.result()->Skipped())
      return;
    SkipRecord record;
    record.test = std::string(info.test_suite_name()) + "." + info.name();
    record.reason = OneLine(reason_);
    record.allowed = IsAllowedSkip(record.test, record.reason, AllowedSkips());
    skips.push_back(record);
  }

  std::vector<SkipRecord> skips;

 private:
  static std::string OneLine(std::string text) {
    for (char& c : text) {
      if (c == '\n' || c == '\r' || c == '\t')
        c = ' ';
    }
    while (!text.empty() && text.back() == ' ')
      text.pop_back();
    return text.empty() ? std::string("(no reason given)") : text;
  }

  std::string reason_;
};

// SV_FORCE_SKIP_CHECK=1 adds a test that skips, to show that CI refuses an unexplained skip.
class ForcedSkip : public ::testing::Test {
  void TestBody() override { GTEST_SKIP() << "SV_FORCE_SKIP_CHECK asked for a skip"; }
};

void RegisterForcedSkip() {
  const char* force = std::getenv("SV_FORCE_SKIP_CHECK");
  if (force == nullptr || std::string(force) != "1")
    return;
  ::testing::RegisterTest("SkipCheck", "Forced", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> ::testing::Test* { return new ForcedSkip; });
}

std::string ProgramName(const char* argv0) {
  return std::filesystem::path(argv0).stem().string();
}

// Prints every skip with its reason and appends it to SV_SKIP_LOG (program, test, allowed,
// reason, tab-separated) for the run's table. Returns how many skips CI refuses.
int ReportSkips(const std::vector<SkipRecord>& skips, const std::string& program) {
  const bool ci = RunningInCi(std::getenv("CI"));
  const char* logPath = std::getenv("SV_SKIP_LOG");
  int refused = 0;
  for (const SkipRecord& skip : skips) {
    const bool fails = ci && !skip.allowed;
    refused += fails ? 1 : 0;
    std::printf("%s %s: %s%s\n", fails ? "[ REFUSED SKIP ]" : "[ SKIP ]", skip.test.c_str(),
                skip.reason.c_str(),
                fails ? " (CI is set and this skip is not on tests/support/skip_allow_list.cpp)"
                      : "");
    if (logPath != nullptr && *logPath != '\0') {
      std::ofstream out(logPath, std::ios::app);
      out << program << '\t' << skip.test << '\t' << (skip.allowed ? "allowed" : "unexplained")
          << '\t' << skip.reason << '\n';
    }
  }
  std::fflush(stdout);
  return refused;
}

}  // namespace
}  // namespace Sorvane::test

// Every test program runs in a fresh profile: APPDATA, LOCALAPPDATA and the XDG folders point into
// a new temporary folder (on Windows the shell's known folders too), removed at the end unless
// SV_KEEP_TEST_PROFILE is set. Under CI a skip that is not on the allow-list fails the program.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  const bool ownsProfile = Sorvane::test::CreateProfileRoot();
  Sorvane::test::RedirectKnownFoldersOfThisProgram();
  // Tests never advertise on a real network: the transport's advertiser finds no system bus.
  Sorvane::test::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/sorvane-test-bus");
  Sorvane::test::RegisterForcedSkip();
  auto* listener = new Sorvane::test::SkipAndLogListener;
  ::testing::UnitTest::GetInstance()->listeners().Append(listener);
  int result = RUN_ALL_TESTS();
  if (Sorvane::test::ReportSkips(listener->skips, Sorvane::test::ProgramName(argv[0])) > 0 &&
      result == 0)
    result = 1;
  if (ownsProfile && std::getenv("SV_KEEP_TEST_PROFILE") == nullptr) {
    std::error_code ec;
    std::filesystem::remove_all(Sorvane::test::ProfileRoot(), ec);
  }
  return result;
}
