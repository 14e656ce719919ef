#include "ui/qr_code.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/pairing_url.h"
#include "ui/qr_terminal.h"

namespace Sorvane {
namespace {

// The largest byte count the version holds with the encoder's 7 bits of slack.
size_t CapacityOf(int version) {
  const int countBits = version <= 9 ? 8 : 16;
  return (QrBlockLayoutFor(version).dataCodewords * 8 - 4 - countBits - 7) / 8;
}

// The 15 format bits of the first copy, bit 0 first as placed.
uint32_t FirstFormatCopy(const QrCode& qr) {
  const int xy[15][2] = {{8, 0}, {8, 1}, {8, 2}, {8, 3}, {8, 4}, {8, 5}, {8, 7}, {8, 8},
                         {7, 8}, {5, 8}, {4, 8}, {3, 8}, {2, 8}, {1, 8}, {0, 8}};
  uint32_t bits = 0;
  for (int i = 0; i < 15; ++i)
    bits |= static_cast<uint32_t>(QrGetModule(qr, xy[i][0], xy[i][1])) << i;
  return bits;
}

uint32_t SecondFormatCopy(const QrCode& qr) {
  uint32_t bits = 0;
  for (int i = 0; i < 8; ++i)
    bits |= static_cast<uint32_t>(QrGetModule(qr, qr.size - 1 - i, 8)) << i;
  for (int i = 8; i < 15; ++i)
    bits |= static_cast<uint32_t>(QrGetModule(qr, 8, qr.size - 15 + i)) << i;
  return bits;
}

TEST(QrTables, LevelHCapacitiesAreTheStandardOnes) {
  struct Row {
    int version, blocks, ecc, data;
  };
  for (const Row& r :
       {Row{1, 1, 17, 9}, Row{2, 1, 28, 16}, Row{5, 4, 22, 46}, Row{7, 5, 26, 66},
        Row{10, 8, 28, 122}, Row{20, 25, 28, 385}, Row{32, 54, 30, 845}, Row{40, 81, 30, 1276}}) {
    const QrBlockLayout layout = QrBlockLayoutFor(r.version);
    EXPECT_EQ(layout.blocks, r.blocks) << r.version;
    EXPECT_EQ(layout.eccPerBlock, r.ecc) << r.version;
    EXPECT_EQ(layout.dataCodewords, r.data) << r.version;
  }
  EXPECT_EQ(QrBlockLayoutFor(0).blocks, 0);
  EXPECT_EQ(QrBlockLayoutFor(41).blocks, 0);
}

TEST(QrTables, AlignmentPositionsMatchTheStandardIncludingTheIrregularVersions) {
  EXPECT_TRUE(QrAlignmentPositions(1).empty());
  EXPECT_EQ(QrAlignmentPositions(2), (std::vector<int>{6, 18}));
  EXPECT_EQ(QrAlignmentPositions(7), (std::vector<int>{6, 22, 38}));
  EXPECT_EQ(QrAlignmentPositions(15), (std::vector<int>{6, 26, 48, 70}));
  EXPECT_EQ(QrAlignmentPositions(32), (std::vector<int>{6, 34, 60, 86, 112, 138}));
  EXPECT_EQ(QrAlignmentPositions(36), (std::vector<int>{6, 24, 50, 76, 102, 128, 154}));
  EXPECT_EQ(QrAlignmentPositions(40), (std::vector<int>{6, 30, 58, 86, 114, 142, 170}));
}

TEST(QrEncode, PicksTheSmallestVersionWithSevenBitsOfSlack) {
  EXPECT_EQ(QrEncodeText("a").size, 21);
  EXPECT_EQ(QrEncodeText("ab").version, 1);
  EXPECT_EQ(QrEncodeText("abcdefg").version, 2);
  for (int version = 1; version <= 39; ++version) {
    EXPECT_EQ(QrVersionForByteCount(CapacityOf(version)), version);
    EXPECT_EQ(QrVersionForByteCount(CapacityOf(version) + 1), version + 1);
  }
  EXPECT_EQ(QrVersionForByteCount(CapacityOf(40)), 40);
}

TEST(QrEncode, ATextBeyondVersion40GivesNoSymbol) {
  const QrCode qr = QrEncodeText(std::string(CapacityOf(40) + 1, 'x'));
  EXPECT_EQ(qr.size, 0);
  EXPECT_TRUE(qr.modules.empty());
  EXPECT_FALSE(QrGetModule(qr, 0, 0));
  EXPECT_EQ(QrEncodeText(std::string(CapacityOf(40), 'x')).size, 177);
}

TEST(QrEncode, FormatInformationSaysLevelHTwiceAndVersionInformationIsStandard) {
  for (const std::string& text : {std::string("x"), std::string(200, 'y')}) {
    const QrCode qr = QrEncodeText(text);
    const uint32_t format = FirstFormatCopy(qr);
    EXPECT_EQ(format, SecondFormatCopy(qr));
    EXPECT_EQ(((format ^ 0x5412) >> 13) & 3, 2u) << "level H is 10";
    EXPECT_TRUE(QrGetModule(qr, 8, qr.size - 8)) << "the dark module";
  }
  const QrCode v7 = QrEncodeText(std::string(CapacityOf(6) + 1, 'z'));
  ASSERT_EQ(v7.version, 7);
  uint32_t versionBits = 0, transposed = 0;
  for (int i = 0; i < 18; ++i) {
    versionBits |= static_cast<uint32_t>(QrGetModule(v7, v7.size - 11 + i % 3, i / 3)) << i;
    transposed |= static_cast<uint32_t>(QrGetModule(v7, i / 3, v7.size - 11 + i % 3)) << i;
  }
  EXPECT_EQ(versionBits, 0x07C94u);
  EXPECT_EQ(transposed, 0x07C94u);
}

TEST(QrEncode, OutsideTheSymbolIsLight) {
  const QrCode qr = QrEncodeText("hello");
  EXPECT_TRUE(QrGetModule(qr, 0, 0));
  EXPECT_FALSE(QrGetModule(qr, -1, 0));
  EXPECT_FALSE(QrGetModule(qr, 0, qr.size));
  EXPECT_FALSE(QrGetModule(qr, qr.size, 0));
}

TEST(QrTerminal, TwoModulesPerCellWithTheQuietZone) {
  const QrCode qr = QrEncodeText("a");
  const std::vector<std::string> lines = QrTerminalLines(qr, 4);
  ASSERT_EQ(lines.size(), 15u);  // (21 + 8 + 1) / 2
  EXPECT_EQ(lines.front(), std::string(29, ' '));
  // Row 4 holds the finders' top edge (y = 0): upper halves across both finders.
  EXPECT_EQ(lines[2].substr(0, 4), "    ");
  EXPECT_EQ(lines[2].substr(4, 3), "\xE2\x96\x88");  // (0,0) and (0,1) dark
  EXPECT_TRUE(QrTerminalLines(QrCode{}, 4).empty());
}

TEST(PairingUrl, PercentEncodesEverythingButTheUnreservedSet) {
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode("a b&c=d+e/f?"), "a%20b%26c%3Dd%2Be%2Ff%3F");
  EXPECT_EQ(PercentEncode("Caf\xC3\xA9"), "Caf%C3%A9");
  EXPECT_EQ(PercentEncode(std::string("\x00\x7F\xFF", 3)), "%00%7F%FF");
  const std::string id = "123e4567-e89b-12d3-a456-426614174000";
  EXPECT_EQ(BuildPairingUrl({id, ""}), "sorvane://pair?v=3&id=" + id + "&name=");
  EXPECT_EQ(BuildPairingUrl({id, "My Mac"}), "sorvane://pair?v=3&id=" + id + "&name=My%20Mac");
}

}  // namespace
}  // namespace Sorvane
