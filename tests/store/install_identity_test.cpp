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
  const size_t before = test::Occurrences(test::TestLog(), "install identity created");
  const InstallIdentity first = installid::LoadOrCreate();
  EXPECT_EQ(first.name, DefaultDisplayName());
  EXPECT_EQ(test::ReadFile(File()), "{\"id\":\"" + first.id + "\",\"name\":\"" +
                                        JsonEscape(first.name) +
                                        "\",\"discoverable\":\"true\",\"enableAsyncHwEncoders\":"
                                        "\"false\"}\n");
  EXPECT_EQ(installid::LoadOrCreate(), first);
  EXPECT_EQ(test::Occurrences(test::TestLog(), "install identity created"), before + 1);
}

TEST_F(InstallIdentityTest, EmptyNameIsFilledAndPreferencesKept) {
  Write(
      "{\"id\":\"abc\",\"name\":\"\",\"discoverable\":\"false\",\"enableAsyncHwEncoders\":\"true\"}"
      "\n");
  const InstallIdentity identity = installid::LoadOrCreate();
  EXPECT_EQ(identity.id, "abc");
  EXPECT_EQ(identity.name, DefaultDisplayName());
  EXPECT_EQ(test::ReadFile(File()), installid::Compose(identity, false, true)) << "rewritten";
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

TEST_F(InstallIdentityTest, PreferenceSetterMakesAnIdentityQuietlyAndAnIdlessFileKeepsPrefs) {
  const size_t before = test::Occurrences(test::TestLog(), "install identity created");
  installid::SetEnableAsyncHwEncoders(true);
  const JsonStringMembers stored = ReadJsonObjects(test::ReadFile(File())).at(0);
  EXPECT_EQ(stored.at("id").size(), 36u);
  EXPECT_EQ(installid::LoadOrCreate().id, stored.at("id")) << "the setter's identity is kept";
  EXPECT_TRUE(installid::EnableAsyncHwEncoders());
  EXPECT_TRUE(installid::Discoverable());
  EXPECT_EQ(test::Occurrences(test::TestLog(), "install identity created"), before);
  EXPECT_NE(test::TestLog().find(":installid:INFO] enableAsyncHwEncoders=true"), std::string::npos);

  Write("{ \"enableAsyncHwEncoders\": \"true\", \"discoverable\": \"false\" }");
  const InstallIdentity fresh = installid::LoadOrCreate();
  EXPECT_EQ(test::ReadFile(File()), installid::Compose(fresh, false, true))
      << "a new id, the old preferences, the canonical form";
  EXPECT_EQ(test::Occurrences(test::TestLog(), "install identity created"), before + 1);
#if !defined(_WIN32)
  EXPECT_EQ(std::filesystem::status(File()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

// One slip in a hand edit (here a missing comma) must not cost the computer its id.
TEST_F(InstallIdentityTest, DamagedFileIsSetAsideAndItsIdRecovered) {
  const std::string damaged =
      "{\"id\":\"5e1f-id\" \"name\":\"Edit \\\"Bay\\\"\",\"discoverable\":\"false\","
      "\"enableAsyncHwEncoders\":\"true\"}\n";
  Write(damaged);
  const size_t createdBefore = test::Occurrences(test::TestLog(), "install identity created");
  const InstallIdentity identity = installid::LoadOrCreate();
  EXPECT_EQ(identity, (InstallIdentity{"5e1f-id", "Edit \"Bay\""}));
  std::filesystem::path aside = File();
  aside += ".bad";
  EXPECT_EQ(test::ReadFile(aside), damaged) << "the damaged text is kept as it was";
  EXPECT_EQ(test::ReadFile(File()), installid::Compose(identity, false, true))
      << "rewritten whole, preferences kept";
  EXPECT_NE(test::TestLog().find(":installid:ERROR] install.json cannot be parsed"),
            std::string::npos);
  EXPECT_EQ(test::Occurrences(test::TestLog(), "install identity created"), createdBefore);

  // Repaired once: later reads find a sound file and leave no new copy.
  std::filesystem::remove(aside);
  EXPECT_EQ(installid::LoadOrCreate(), identity);
  EXPECT_FALSE(installid::Discoverable());
  EXPECT_FALSE(std::filesystem::exists(aside));
}

TEST_F(InstallIdentityTest, DamagedFileWithoutIdMintsOneAndKeepsPreferences) {
  Write("{\"name\":\"Desk\",\"discoverable\":\"false\"");  // cut short
  EXPECT_FALSE(installid::Discoverable()) << "a getter repairs too";
  std::filesystem::path aside = File();
  aside += ".bad";
  EXPECT_EQ(test::ReadFile(aside), "{\"name\":\"Desk\",\"discoverable\":\"false\"");
  const InstallIdentity identity = installid::LoadOrCreate();
  EXPECT_EQ(identity.id.size(), 36u);
  EXPECT_EQ(identity.name, DefaultDisplayName()) << "a new identity takes the default name";
  EXPECT_EQ(test::ReadFile(File()), installid::Compose(identity, false, false));
}

TEST_F(InstallIdentityTest, ComposeEscapesIdAndName) {
  EXPECT_EQ(installid::Compose({"i\"d", "N\\a\tme\x02"}, false, true),
            "{\"id\":\"i\\\"d\",\"name\":\"N\\\\a\\tme\\u0002\",\"discoverable\":\"false\","
            "\"enableAsyncHwEncoders\":\"true\"}\n");
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
