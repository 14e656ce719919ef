#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
  const std::string log = test::TestLog();
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
  EXPECT_NE(test::TestLog().find("removed peer id=x"), std::string::npos);
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

TEST_F(TrustedPeersTest, HandEditedDuplicatesNestedObjectsAndDroppedEntries) {
  EnsureAppSupportDir();
  std::ofstream(File(), std::ios::binary)
      << "[{\"id\":\"d\",\"token\":\"1\",\"meta\":{\"id\":\"inner\",\"token\":\"x\"}},"
         "{\"id\":\"keep\",\"token\":\"k\"},{\"id\":\"d\",\"token\":\"2\"},{\"id\":\"untrusted\"}]";
  EXPECT_EQ(trusted::LoadAll().size(), 3u) << "an object inside a member is no peer";
  EXPECT_EQ(trusted::FindById("d")->token, "1") << "the first of two equal ids";
  EXPECT_FALSE(trusted::FindById(""));
  TrustedPeer update = Peer("d");
  trusted::Upsert(update);
  auto peers = trusted::LoadAll();
  ASSERT_EQ(peers.size(), 3u);
  EXPECT_EQ(peers[0], update);
  EXPECT_EQ(peers[2].token, "2") << "only the first is updated";
  EXPECT_EQ(test::ReadFile(File()).find("untrusted"), std::string::npos) << "dropped on writing";
  trusted::Remove("d");
  peers = trusted::LoadAll();
  ASSERT_EQ(peers.size(), 1u) << "remove drops every entry with the id";
  EXPECT_EQ(peers[0].id, "keep");
}

// A write that cannot even start leaves the previous file whole and logs no success.
TEST_F(TrustedPeersTest, FailedWriteKeepsTheFileAndIsLogged) {
  trusted::Upsert(Peer("kept"));
  const std::string before = test::ReadFile(File());
  std::filesystem::path tmp = File();
  tmp += ".tmp";
  std::filesystem::create_directory(tmp);
  trusted::Upsert(Peer("lost"));
  EXPECT_EQ(test::ReadFile(File()), before);
  const std::string log = test::TestLog();
  EXPECT_NE(log.find(":trusted:ERROR] write: open(" + tmp.string() + ") failed"),
            std::string::npos);
  EXPECT_EQ(log.find("added peer id=lost"), std::string::npos);
  std::filesystem::remove(tmp);
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

// Adds and replaces with random bytes 0x01-0xFF, checked against a model after every step.
TEST_F(TrustedPeersTest, RandomUpsertsMatchAModel) {
  std::mt19937 rng(20261208);
  auto randomText = [&](size_t maxLength) {
    std::string text(1 + rng() % maxLength, '\0');
    for (char& c : text)
      c = static_cast<char>(1 + rng() % 255);
    return text;
  };
  std::vector<TrustedPeer> model;
  for (int i = 0; i < 200; ++i) {
    TrustedPeer peer{randomText(24), randomText(40), randomText(40), randomText(20)};
    if (!model.empty() && rng() % 3 == 0)
      peer.id = model[rng() % model.size()].id;
    const auto same = std::find_if(model.begin(), model.end(),
                                   [&](const TrustedPeer& p) { return p.id == peer.id; });
    if (same != model.end()) {
      *same = peer;
    } else {
      model.push_back(peer);
    }
    trusted::Upsert(peer);
    ASSERT_EQ(trusted::LoadAll(), model) << "step " << i;
  }
  EXPECT_EQ(trusted::Parse(trusted::Serialize(model)), model);
}

}  // namespace
}  // namespace Sorvane
