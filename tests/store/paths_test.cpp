#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "store/app_paths.h"
#include "store/store_test_support.h"

namespace Sorvane {
namespace {

TEST(AppPaths, FolderFollowsTheEnvironment) {
#if defined(_WIN32)
  EXPECT_EQ(AppSupportDir().filename(), "Sorvane") << "the shell's roaming folder wins";
#else
  const std::string root = test::ProfileRoot().string();
  test::SetEnv("APPDATA", (root + "/a").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/a") / "Sorvane");
  test::SetEnv("APPDATA", "");
  test::SetEnv("XDG_CONFIG_HOME", (root + "/x").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/x") / "Sorvane");
  test::SetEnv("XDG_CONFIG_HOME", nullptr);
  test::SetEnv("HOME", (root + "/h").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/h") / ".config" / "Sorvane");
  test::SetEnv("APPDATA", (root + "/roaming").c_str());
#endif
}

TEST(AppPaths, EnsureReportsAFileInTheWay) {
  test::ForgetState();
  EXPECT_TRUE(EnsureAppSupportDir());
  EXPECT_TRUE(EnsureAppSupportDir()) << "already there";
  std::filesystem::remove_all(AppSupportDir());
  std::ofstream(AppSupportDir()) << "not a folder";
  EXPECT_FALSE(EnsureAppSupportDir());
  std::filesystem::remove(AppSupportDir());
}

TEST(Identifiers, CodesTokensAndInstallIds) {
  EXPECT_EQ(PairingCodeFromRandom(42), "000042");
  EXPECT_EQ(PairingCodeFromRandom(1000000), "000000");
  EXPECT_EQ(PairingCodeFromRandom(4294967295u), "967295");
  for (int i = 0; i < 50; ++i) {
    const std::string code = GeneratePairingCode();
    ASSERT_EQ(code.size(), 6u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
  }
  const std::string token = GeneratePairingToken();
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(token, GeneratePairingToken());
  EXPECT_EQ(RandomHex(0), "");
  EXPECT_TRUE(std::regex_match(
      NewInstallId(), std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
  EXPECT_NE(NewInstallId(), "00000000-0000-0000-0000-000000000000");
  EXPECT_FALSE(DefaultDisplayName().empty());
}

}  // namespace
}  // namespace Sorvane
