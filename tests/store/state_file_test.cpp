#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <utility>
#include <vector>

#include "diag/log_text.h"
#include "store/install_identity.h"
#include "store/state_file.h"
#include "store/store_test_support.h"
#include "store/trusted_peers.h"

namespace Sorvane {
namespace {

namespace fs = std::filesystem;
using statefile::FileStep;

TrustedPeer Phone(const std::string& id) {
  return TrustedPeer{id, "Phone", std::string(64, 'a'), "2026-12-08T07:00:00Z"};
}

fs::path TempOf(const fs::path& file) {
  fs::path tmp = file;
  tmp += ".tmp";
  return tmp;
}

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ForgetState(); }
  void TearDown() override { statefile::SetStepHook(nullptr); }
  fs::path IdentityFile() { return AppSupportDir() / "install.json"; }
};

// After a power cut the renamed file must hold what was written, not nothing.
TEST_F(StateFileTest, NothingIsReplacedBeforeItReachedTheDisk) {
  trusted::Upsert(Phone("first"));
  std::vector<std::pair<FileStep, fs::path>> steps;
  std::string replacing;
  statefile::SetStepHook([&](FileStep step, const fs::path& target) {
    steps.emplace_back(step, target);
    if (step == FileStep::Replace)
      replacing = test::ReadFile(target);
    return true;
  });
  trusted::Upsert(Phone("second"));
  statefile::SetStepHook(nullptr);

  const fs::path file = trusted::TrustedFilePath();
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front(), std::make_pair(FileStep::Read, file)) << "read, then changed";
  std::vector<std::pair<FileStep, fs::path>> writes;
  for (const auto& step : steps) {
    if (step.first != FileStep::Read)
      writes.push_back(step);
  }
  const std::vector<std::pair<FileStep, fs::path>> expected{
      {FileStep::Write, TempOf(file)},
      {FileStep::Flush, TempOf(file)},
      {FileStep::Replace, TempOf(file)},
      {FileStep::SyncFolder, AppSupportDir()}};
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(replacing, test::ReadFile(file)) << "what was flushed is what was put in place";
  EXPECT_EQ(trusted::LoadAll().size(), 2u);
}

// A write that fails at any step leaves the previous file, and no temporary file, behind, and is
// not reported as done; a failed folder sync is reported, the change itself is in place.
TEST_F(StateFileTest, AFailedStepLeavesTheFileAsItWas) {
  trusted::Upsert(Phone("kept"));
  const fs::path file = trusted::TrustedFilePath();
  for (const FileStep failing : {FileStep::Write, FileStep::Flush, FileStep::Replace}) {
    const std::string before = test::ReadFile(file);
    const test::LogMark mark = test::MarkLog();
    statefile::SetStepHook([failing](FileStep step, const fs::path&) { return step != failing; });
    trusted::Upsert(Phone("lost"));
    statefile::SetStepHook(nullptr);
    const std::string log = test::LogSince(mark);
    EXPECT_EQ(test::ReadFile(file), before) << static_cast<int>(failing);
    EXPECT_FALSE(fs::exists(TempOf(file))) << static_cast<int>(failing);
    EXPECT_NE(log.find(":trusted:ERROR] write: "), std::string::npos) << log;
    EXPECT_EQ(log.find("added peer id=lost"), std::string::npos) << log;
  }
  const test::LogMark mark = test::MarkLog();
  statefile::SetStepHook(
      [](FileStep step, const fs::path&) { return step != FileStep::SyncFolder; });
  trusted::Upsert(Phone("synced-late"));
  statefile::SetStepHook(nullptr);
  EXPECT_TRUE(trusted::FindById("synced-late"));
  EXPECT_NE(test::LogSince(mark).find("may not survive a power cut"), std::string::npos);
}

// Rewriting what could not be read would mint a new id and drop every other phone.
TEST_F(StateFileTest, AnUnreadableFileIsNeverRewritten) {
  installid::LoadOrCreate();
  installid::SetDiscoverable(false);
  trusted::Upsert(Phone("kept"));
  const std::string identityText = test::ReadFile(IdentityFile());
  const std::string trustedText = test::ReadFile(trusted::TrustedFilePath());
  const test::LogMark mark = test::MarkLog();

  statefile::SetStepHook([](FileStep step, const fs::path&) { return step != FileStep::Read; });
  EXPECT_EQ(installid::LoadOrCreate().id, "") << "no id rather than a new one";
  installid::SetEnableAsyncHwEncoders(true);
  trusted::Upsert(Phone("new"));
  trusted::Remove("kept");
  statefile::SetStepHook(nullptr);

  EXPECT_EQ(test::ReadFile(IdentityFile()), identityText);
  EXPECT_EQ(test::ReadFile(trusted::TrustedFilePath()), trustedText);
  const std::string log = test::LogSince(mark);
  EXPECT_NE(log.find("install.json still cannot be read"), std::string::npos) << log;
  EXPECT_NE(log.find(trusted::TrustedFileName(DetectHost()) + " still cannot be read"),
            std::string::npos);
  EXPECT_EQ(log.find("install identity created"), std::string::npos);
  EXPECT_EQ(log.find("added peer"), std::string::npos);
}

TEST_F(StateFileTest, ATemporaryFileLeftByACrashIsRemovedUnderTheLock) {
  trusted::Upsert(Phone("kept"));
  const fs::path tmp = TempOf(trusted::TrustedFilePath());
  std::ofstream(tmp, std::ios::binary) << "[{\"id\":\"half";
  EXPECT_EQ(trusted::LoadAll().size(), 1u);
  EXPECT_FALSE(fs::exists(tmp));
  EXPECT_NE(test::TestLog().find("left by an interrupted write"), std::string::npos);
}

#if defined(_WIN32)
// A lone surrogate: a Windows name with no narrow form at all.
const fs::path kNoNarrowForm = L"Ana\xD800s";
void SetRoaming(const fs::path& dir) {
  _wputenv_s(L"APPDATA", dir.c_str());
}
#else
const fs::path kNoNarrowForm = "Ana\xFFs";  // not UTF-8
void SetRoaming(const fs::path& dir) {
  setenv("APPDATA", dir.c_str(), 1);
}
#endif

// Every state file's path holds the user's folder name. One with no narrow form (here in a profile
// that cannot be made: a file stands in the way) is written to the log as UTF-8, and nothing
// throws into the host.
TEST_F(StateFileTest, APathWithoutANarrowFormIsLoggedAndNeverThrows) {
  const fs::path blocker = test::MakeTempDir("names") / "file";
  std::ofstream(blocker) << "in the way";
  const std::string saved = std::getenv("APPDATA");
  SetRoaming(blocker / kNoNarrowForm);
  const std::string folder = PathForLog(AppSupportDir());
  EXPECT_NO_THROW(trusted::Upsert(Phone("p")));
  EXPECT_NO_THROW(installid::SetDiscoverable(false));
  test::SetEnv("APPDATA", saved.c_str());
  const std::string log = test::TestLog();
  EXPECT_NE(log.find("EnsureAppSupportDir: create_directories(" + folder + ") failed"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(":trusted:ERROR] " + folder), std::string::npos) << "nothing written";
}

}  // namespace
}  // namespace Sorvane
