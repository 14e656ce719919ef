#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>

#include "store/json_text.h"
#include "store/store_test_support.h"
#include "store/trusted_peers.h"

namespace Sorvane {
namespace {

TrustedPeer Peer(const std::string& id, const std::string& name = "Phone") {
  return TrustedPeer{id, name, std::string(64, 'a'), "2026-12-08T07:00:00Z"};
}

class TrustedPeersTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ForgetState(); }
  std::filesystem::path File() { return trusted::TrustedFilePath(); }
};

TEST_F(TrustedPeersTest, FileNamesPerHost) {
  EXPECT_EQ(trusted::TrustedFileName(HostKind::PremierePro), "trusted.json");
  EXPECT_EQ(trusted::TrustedFileName(HostKind::AfterEffects), "trusted-ae.json");
  EXPECT_EQ(trusted::TrustedFileName(HostKind::MediaEncoder), "trusted-ame.json");
  EXPECT_EQ(trusted::TrustedFileName(HostKind::Unknown), "trusted-x.json");
}

TEST_F(TrustedPeersTest, ExactFileFormatAndEscapes) {
  EXPECT_TRUE(trusted::LoadAll().empty());
  EXPECT_FALSE(trusted::FindById("p1"));
  trusted::Upsert(TrustedPeer{"p1", "Ana \"work\" \\ \t\x01", "t0k", "2026-01-02T03:04:05Z"});
  EXPECT_EQ(test::ReadFile(File()),
            "[{\"id\":\"p1\",\"name\":\"Ana \\\"work\\\" \\\\ \\t\\u0001\",\"token\":\"t0k\","
            "\"firstPaired\":\"2026-01-02T03:04:05Z\"}]\n");
  EXPECT_EQ(trusted::Serialize({}), "[]\n");
  EXPECT_EQ(trusted::FindById("p1")->name, "Ana \"work\" \\ \t\x01") << "escapes decode back";
#if !defined(_WIN32)
  EXPECT_EQ(std::filesystem::status(File()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::status(AppSupportDir()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
#endif
}

TEST_F(TrustedPeersTest, BracesInNamesSurviveAReload) {
  trusted::Upsert(Peer("braces", "Ana's {work} phone}"));
  trusted::Upsert(Peer("after"));
  const auto peers = trusted::LoadAll();
  ASSERT_EQ(peers.size(), 2u);
  EXPECT_EQ(peers[0].name, "Ana's {work} phone}");
  EXPECT_EQ(peers[1].id, "after");
}

TEST_F(TrustedPeersTest, UpsertReplacesInPlaceOrAppendsAndLogs) {
  trusted::Upsert(Peer("a"));
  trusted::Upsert(Peer("b"));
  TrustedPeer changed = Peer("a", "Renamed");
  changed.token = std::string(64, 'b');
  trusted::Upsert(changed);
  const auto peers = trusted::LoadAll();
  ASSERT_EQ(peers.size(), 2u);
  EXPECT_EQ(peers[0], changed) << "same position, every field replaced";
  const std::string log = test::PluginLog();
  EXPECT_NE(log.find(":trusted:INFO] added peer id=b name=Phone"), std::string::npos);
  EXPECT_NE(log.find(":trusted:INFO] updated peer id=a name=Renamed"), std::string::npos);

  TrustedPeer noToken = Peer("c");
  noToken.token.clear();
  trusted::Upsert(noToken);
  EXPECT_EQ(trusted::LoadAll().size(), 2u);
}

TEST_F(TrustedPeersTest, EmptyTokenCreatesNothingAndAbsentRemoveLeavesTheFile) {
  TrustedPeer noToken = Peer("x");
  noToken.token.clear();
  trusted::Upsert(noToken);
  EXPECT_FALSE(std::filesystem::exists(File()));
  trusted::Upsert(Peer("x"));
  const auto before = std::filesystem::last_write_time(File());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  trusted::Remove("absent");
  EXPECT_EQ(std::filesystem::last_write_time(File()), before);
  trusted::Remove("x");
  EXPECT_TRUE(trusted::LoadAll().empty());
  EXPECT_NE(test::PluginLog().find("removed peer id=x"), std::string::npos);
}

TEST_F(TrustedPeersTest, TolerantOfHandEditsAndGarbage) {
  EXPECT_TRUE(trusted::Parse("").empty());
  EXPECT_TRUE(trusted::Parse("[]").empty());
  EXPECT_TRUE(trusted::Parse("not json at all {{{").empty());
  const auto peers = trusted::Parse(
      " [ {\"token\" : \"tk\", \"extra\": [1, {\"x\": \"}\"}], \"id\":\"i\\u00e9\", \"n\":3},\n"
      "{\"id\":\"no-token\"}, {\"id\":\"broken\", \"token\": \"t  ] ");
  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[0].id, "i\xC3\xA9") << "\\u escapes decode to UTF-8";
  EXPECT_EQ(peers[0].token, "tk");
  EXPECT_EQ(peers[0].name, "");
}

// Arbitrary bytes in every field survive a save and a load.
TEST_F(TrustedPeersTest, RandomPeersRoundTripExactly) {
  std::mt19937 rng(99);
  auto randomText = [&](size_t maxLength) {
    std::string text(1 + rng() % maxLength, '\0');
    for (char& c : text)
      c = static_cast<char>(1 + rng() % 255);
    return text;
  };
  std::vector<TrustedPeer> expected;
  for (int i = 0; i < 150; ++i) {
    TrustedPeer peer{randomText(64) + std::to_string(i), randomText(128), randomText(128),
                     "2026-12-08T00:00:00Z"};
    trusted::Upsert(peer);
    expected.push_back(peer);
  }
  EXPECT_EQ(trusted::LoadAll(), expected);
}

TEST_F(TrustedPeersTest, ConcurrentWritersLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) {
        trusted::Upsert(Peer("t" + std::to_string(t) + "-" + std::to_string(i)));
        trusted::Remove("t" + std::to_string(t) + "-" + std::to_string(i - 1) + "-never");
        EXPECT_TRUE(trusted::FindById("t" + std::to_string(t) + "-" + std::to_string(i)));
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(trusted::LoadAll().size(), 100u);
}

}  // namespace
}  // namespace Sorvane
