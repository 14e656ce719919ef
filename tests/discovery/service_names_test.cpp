#include <gtest/gtest.h>

#include "discovery/service_names.h"

namespace Sorvane::dnssd {
namespace {

TEST(InstanceLabel, LongNamesAreCutTo40BytesWhileTxtKeepsTheWholeName) {
  const std::string name(60, 'a');
  EXPECT_EQ(InstanceLabel(name), std::string(40, 'a'));
  const auto txt = TxtEntries({"id-1", name, true});
  EXPECT_EQ(txt[2].second, name);
  EXPECT_EQ(FullInstanceName(InstanceLabel("")), "Sorvane._sorvane._tcp.local");
}

TEST(InstanceLabel, NeverSplitsAMultiByteCharacter) {
  const std::string dash = "\xE2\x80\x94";  // three bytes
  // The separator straddling byte 40 is dropped whole.
  EXPECT_EQ(InstanceLabel(std::string(38, 'x') + dash + "tail"), std::string(38, 'x'));
  EXPECT_EQ(InstanceLabel(std::string(39, 'x') + dash), std::string(39, 'x'));
  // Ending exactly at byte 40 keeps it.
  EXPECT_EQ(InstanceLabel(std::string(37, 'x') + dash + "y"), std::string(37, 'x') + dash);
  // Two-byte characters all the way: 20 whole ones fit.
  std::string umlauts;
  for (int i = 0; i < 30; ++i)
    umlauts += "\xC3\xBC";
  EXPECT_EQ(InstanceLabel(umlauts), umlauts.substr(0, 40));
  EXPECT_EQ(InstanceLabel("x" + umlauts).size(), 39u);
  // Four-byte characters: 10 fit exactly, the 11th would straddle.
  std::string emoji;
  for (int i = 0; i < 11; ++i)
    emoji += "\xF0\x9F\x8E\xA5";
  EXPECT_EQ(InstanceLabel(emoji), emoji.substr(0, 40));
  EXPECT_EQ(InstanceLabel("ab" + emoji), "ab" + emoji.substr(0, 36));
}

TEST(InstanceLabel, DotsAndBackslashesAreEscapedInTheInstanceName) {
  EXPECT_EQ(EscapeLabel("Jo's Mac v1.2"), "Jo's Mac v1\\.2");
  EXPECT_EQ(EscapeLabel("a\\b"), "a\\\\b");
  EXPECT_EQ(FullInstanceName("Edit.Bay"), "Edit\\.Bay._sorvane._tcp.local");
  // The 40-byte cut counts the name's own bytes, not the escapes.
  EXPECT_EQ(InstanceLabel(std::string(45, '.')), std::string(40, '.'));
}

TEST(MdnsHostName, LowerCasedWithLocalOrLocalhost) {
  EXPECT_EQ(MdnsHostName(std::string("EDIT-Bay-3")), "edit-bay-3.local");
  EXPECT_EQ(MdnsHostName(std::nullopt), "localhost.local");
  EXPECT_EQ(MdnsHostName(std::string()), "localhost.local");
}

TEST(TxtEntries, InOrderWithTheTransmitFlag) {
  const auto txt = TxtEntries({"abc-ae", "Studio \xE2\x80\x94 After Effects", false});
  ASSERT_EQ(txt.size(), 4u);
  EXPECT_EQ(txt[0], std::make_pair(std::string("ver"), std::string("4")));
  EXPECT_EQ(txt[1], std::make_pair(std::string("id"), std::string("abc-ae")));
  EXPECT_EQ(txt[2].first, "name");
  EXPECT_EQ(txt[3], std::make_pair(std::string("transmit"), std::string("0")));
  EXPECT_EQ(TxtEntries({"i", "n", true})[3].second, "1");
}

TEST(TxtEntries, ANameTooLongForOneTxtStringIsCutAtACharacter) {
  std::string name;
  for (int i = 0; i < 100; ++i)
    name += "\xE2\x80\x94";  // 300 bytes
  const std::string value = TxtEntries({"i", name, true})[2].second;
  EXPECT_LE(value.size() + 5, kMaxTxtEntryBytes);  // "name=" + value
  EXPECT_EQ(value.size() % 3, 0u) << "cut inside a character";
  EXPECT_EQ(value.size(), 249u);
}

// Browse answers may spell our own instance name in any form DNS allows.
TEST(SameInstanceName, MatchesEveryPresentationOfOneName) {
  const std::string ours = FullInstanceName("Edit.Bay \\ 2");
  EXPECT_EQ(ours, "Edit\\.Bay \\\\ 2._sorvane._tcp.local");
  EXPECT_EQ(FirstLabel(ours), "Edit.Bay \\ 2");
  for (const std::string& answer :
       {ours + ".", std::string("EDIT\\.BAY \\\\ 2._SORVANE._TCP.LOCAL"),
        std::string("Edit\\046Bay\\032\\092\\0322._sorvane._tcp.local."),
        std::string("Edit\\.Bay \\\\ 2")}) {
    EXPECT_TRUE(SameInstanceName(answer, ours)) << answer;
  }
  EXPECT_FALSE(SameInstanceName("Edit._sorvane._tcp.local", ours))
      << "an unescaped dot ends the label";
  EXPECT_FALSE(
      SameInstanceName("Edit Bay._sorvane._tcp.local", "Edit Bay (2)._sorvane._tcp.local"));
  EXPECT_FALSE(SameInstanceName("\xC3\xBC", "\xC3\x9C")) << "only ASCII letters fold";
  // Malformed escapes are taken literally rather than read past the end.
  EXPECT_EQ(FirstLabel("a\\"), "a\\");
  EXPECT_EQ(FirstLabel("a\\99"), "a99");
  EXPECT_EQ(FirstLabel("a\\999x"), "a999x");
}

}  // namespace
}  // namespace Sorvane::dnssd
