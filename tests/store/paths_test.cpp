#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "store/app_paths.h"
#if defined(_WIN32)
#include "store/app_paths_win.h"
#endif
#include "store/install_identity.h"
#include "store/store_test_support.h"
#include "store/trusted_peers.h"
#include "support/known_folders.h"

namespace Sorvane {
namespace {

#if defined(_WIN32)
// The shell's answer wins over APPDATA; without it the environment decides, then "C:\".
TEST(AppPaths, ShellFolderThenEnvironmentFallbacks) {
  test::AnswerRoamingFolder(L"C:\\Users\\ana\\AppData\\Roaming");
  EXPECT_EQ(RoamingAppDataDir(), std::filesystem::path(L"C:\\Users\\ana\\AppData\\Roaming"))
      << "the shell's answer wins over APPDATA";
  test::AnswerRoamingFolder(L"");
  EXPECT_EQ(RoamingAppDataDir(), std::filesystem::path(std::getenv("APPDATA")))
      << "without the shell's answer, APPDATA";
  test::ForgetRoamingFolderAnswer();
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(std::getenv("APPDATA")) / "Sorvane")
      << "this program's own profile";

  const std::string appData = std::getenv("APPDATA");
  const char* profile = std::getenv("USERPROFILE");
  const std::string savedProfile = profile ? profile : "";
  EXPECT_EQ(pathsdetail::RoamingDirFromEnvironment(), std::filesystem::path(appData));
  test::SetEnv("APPDATA", "");
  test::SetEnv("USERPROFILE", "D:\\Users\\ana");
  EXPECT_EQ(pathsdetail::RoamingDirFromEnvironment() / "Sorvane",
            std::filesystem::path(L"D:\\Users\\ana\\AppData\\Roaming\\Sorvane"));
  test::SetEnv("USERPROFILE", "");
  EXPECT_EQ(pathsdetail::RoamingDirFromEnvironment() / "Sorvane",
            std::filesystem::path(L"C:\\Sorvane"));
  test::SetEnv("APPDATA", appData.c_str());
  test::SetEnv("USERPROFILE", savedProfile.c_str());
}

TEST(AppPaths, ComputerNamesBecomeUtf8) {
  const std::wstring name = L"B\u00fcro-\u03a9-\u6771\U0001F600";
  EXPECT_EQ(pathsdetail::Utf8FromWide(name.data(), static_cast<int>(name.size())),
            "B\xC3\xBCro-\xCE\xA9-\xE6\x9D\xB1\xF0\x9F\x98\x80");
  EXPECT_EQ(pathsdetail::Utf8FromWide(L"", 0), "");
}
#else
TEST(AppPaths, FolderFollowsTheEnvironment) {
  const std::string root = test::ProfileRoot().string();
  const std::string appData = std::getenv("APPDATA");
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  test::SetEnv("APPDATA", (root + "/a").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/a") / "Sorvane");
  test::SetEnv("APPDATA", "");
  test::SetEnv("XDG_CONFIG_HOME", (root + "/x").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/x") / "Sorvane");
  test::SetEnv("APPDATA", nullptr);
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/x") / "Sorvane") << "APPDATA unset";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  test::SetEnv("XDG_CONFIG_HOME", "");
  test::SetEnv("HOME", (root + "/h").c_str());
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/h") / ".config" / "Sorvane");
  test::SetEnv("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(root + "/h") / ".config" / "Sorvane");
  test::SetEnv("HOME", "");
  EXPECT_EQ(AppSupportDir(), std::filesystem::path(".") / "Sorvane");
  test::SetEnv("HOME", home.empty() ? nullptr : home.c_str());
  test::SetEnv("APPDATA", appData.c_str());
  test::SetEnv("XDG_CONFIG_HOME", config.c_str());
}

// A folder that cannot even be examined (a symlink loop, an over-long name) is a failure to
// report, not an exception into the host.
TEST(AppPaths, EnsureFailsQuietlyWhenTheFolderCannotBeExamined) {
  const std::filesystem::path dir = test::MakeTempDir("unusable");
  std::filesystem::create_symlink(dir / "loop", dir / "loop");
  const std::string saved = std::getenv("APPDATA");
  for (const std::filesystem::path& base : {dir / "loop", dir / std::string(300, 'n')}) {
    test::SetEnv("APPDATA", base.c_str());
    bool ensured = false;
    EXPECT_NO_THROW(ensured = EnsureAppSupportDir()) << base;
    EXPECT_FALSE(ensured);
    EXPECT_NO_THROW(trusted::Upsert(TrustedPeer{"id", "name", "token", ""}));
    EXPECT_NO_THROW(installid::LoadOrCreate());
  }
  test::SetEnv("APPDATA", saved.c_str());
}
#endif

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
  EXPECT_EQ(PairingCodeFromRandom(999999), "999999");
  EXPECT_EQ(PairingCodeFromRandom(0), "000000");
  EXPECT_EQ(RandomHex(1).size(), 2u);
  EXPECT_EQ(RandomHex(16).find_first_not_of("0123456789abcdef"), std::string::npos);
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
  EXPECT_NE(NewInstallId(), NewInstallId());
  EXPECT_FALSE(DefaultDisplayName().empty());
}

}  // namespace
}  // namespace Sorvane
