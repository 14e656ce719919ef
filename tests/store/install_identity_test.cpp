#include <gtest/gtest.h>

#include <fstream>

#include "store/install_identity.h"
#include "store/json_text.h"
#include "store/store_test_support.h"

namespace Sorvane {
namespace {

class InstallIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ForgetState(); }
  std::filesystem::path File() { return AppSupportDir() / "install.json"; }
  void Write(const std::string& text) {
    EnsureAppSupportDir();
    std::ofstream(File(), std::ios::binary) << text;
  }
};

TEST_F(InstallIdentityTest, FirstRunWritesTheCanonicalLineOnce) {
  const size_t before = test::Occurrences(test::PluginLog(), "install identity created");
  const InstallIdentity first = installid::LoadOrCreate();
  EXPECT_EQ(first.name, DefaultDisplayName());
  EXPECT_EQ(test::ReadFile(File()), "{\"id\":\"" + first.id + "\",\"name\":\"" +
                                        JsonEscape(first.name) +
                                        "\",\"discoverable\":\"true\",\"enableAsyncHwEncoders\":"
                                        "\"false\"}\n");
  EXPECT_EQ(installid::LoadOrCreate(), first);
  EXPECT_EQ(test::Occurrences(test::PluginLog(), "install identity created"), before + 1);
}

TEST_F(InstallIdentityTest, EmptyNameIsFilledAndPreferencesKept) {
  Write(
      "{\"id\":\"abc\",\"name\":\"\",\"discoverable\":\"false\",\"enableAsyncHwEncoders\":\"true\"}"
      "\n");
  const InstallIdentity identity = installid::LoadOrCreate();
  EXPECT_EQ(identity.id, "abc");
  EXPECT_EQ(identity.name, DefaultDisplayName());
  EXPECT_FALSE(installid::Discoverable());
  EXPECT_TRUE(installid::EnableAsyncHwEncoders());
}

TEST_F(InstallIdentityTest, PreferencesSurviveRenamesAndReadStrictly) {
  installid::LoadOrCreate();
  installid::SetDiscoverable(false);
  installid::SetName("Studio \"B\" \\ Mac");
  EXPECT_FALSE(installid::Discoverable());
  EXPECT_EQ(installid::LoadOrCreate().name, "Studio \"B\" \\ Mac");
  Write("{\"id\":\"x\",\"discoverable\":\"FALSE\",\"enableAsyncHwEncoders\":\"TRUE\"}");
  EXPECT_TRUE(installid::Discoverable()) << "only exactly \"false\" turns discovery off";
  EXPECT_FALSE(installid::EnableAsyncHwEncoders()) << "only exactly \"true\" turns it on";
  Write("{\"enableAsyncHwEncoders\" : \"1\", \"discoverable\" : \"0\", \"id\" : \"y\"}");
  EXPECT_TRUE(installid::Discoverable());
  EXPECT_FALSE(installid::EnableAsyncHwEncoders());
  test::ForgetState();
  EXPECT_TRUE(installid::Discoverable()) << "no file: the defaults";
  installid::SetName("ignored");
  EXPECT_FALSE(std::filesystem::exists(File())) << "no identity to rename";
}

TEST(AdvertisedIdentity, QualifiedByTheHost) {
  const InstallIdentity id{"0f0e", "Desk"};
  EXPECT_EQ(AdvertisedIdentityFor(id, HostKind::PremierePro),
            (InstallIdentity{"0f0e", "Desk \xE2\x80\x94 Premiere Pro"}));
  EXPECT_EQ(AdvertisedIdentityFor(id, HostKind::AfterEffects),
            (InstallIdentity{"0f0e-ae", "Desk \xE2\x80\x94 After Effects"}));
  EXPECT_EQ(AdvertisedIdentityFor(id, HostKind::MediaEncoder),
            (InstallIdentity{"0f0e-ame", "Desk \xE2\x80\x94 Media Encoder"}));
  EXPECT_EQ(AdvertisedIdentityFor(id, HostKind::Unknown),
            (InstallIdentity{"0f0e-x", "Desk \xE2\x80\x94 Unknown Host"}));
}

}  // namespace
}  // namespace Sorvane
