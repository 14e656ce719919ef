#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "encoder/annexb.h"
#include "encoder/encoded_output.h"

namespace Sorvane {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AnnexB, StartCodesPassAndLengthPrefixesConvert) {
  Bytes out;
  const Bytes annexB = {0, 0, 0, 1, 0x65, 1, 2};
  AppendAnnexB(out, annexB.data(), annexB.size());
  EXPECT_EQ(out, annexB);
  out.clear();
  const Bytes prefixed = {0, 0, 0, 5, 0x65, 0x88, 0x84, 0x00, 0x21};
  AppendAnnexB(out, prefixed.data(), prefixed.size());
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x21}));
  out.clear();
  const Bytes overlong = {0, 0, 0, 2, 0x41, 0x9A, 0, 0, 0, 9, 0x41};
  AppendAnnexB(out, overlong.data(), overlong.size());
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x41, 0x9A})) << "only the first unit is whole";
}

TEST(AnnexB, KeyframeScanLooksAtEveryUnit) {
  const Bytes idr = {0, 0, 0, 1, 0x65, 0x88};
  const Bytes pSlice = {0, 0, 1, 0x41, 0x9A, 0x00};
  const Bytes seiThenIdr = {0, 0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x65, 0x88};
  const Bytes hevcIdr = {0, 0, 0, 1, 0x26, 0x01, 0xAF};
  const Bytes hevcTrail = {0, 0, 0, 1, 0x02, 0x01, 0xD0};
  const Bytes tiny = {0, 0, 1};
  EXPECT_TRUE(ScanForKeyframe(idr.data(), idr.size(), false));
  EXPECT_FALSE(ScanForKeyframe(pSlice.data(), pSlice.size(), false));
  EXPECT_TRUE(ScanForKeyframe(seiThenIdr.data(), seiThenIdr.size(), false));
  EXPECT_TRUE(ScanForKeyframe(hevcIdr.data(), hevcIdr.size(), true));
  EXPECT_FALSE(ScanForKeyframe(hevcTrail.data(), hevcTrail.size(), true));
  EXPECT_FALSE(ScanForKeyframe(tiny.data(), tiny.size(), false));
  EXPECT_FALSE(ScanForKeyframe(nullptr, 10, false));
}

Bytes AvcRecord(size_t spsSize, size_t ppsSize) {
  Bytes record = {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, static_cast<uint8_t>(spsSize)};
  record.insert(record.end(), spsSize, 0x67);
  record.push_back(1);
  record.push_back(0);
  record.push_back(static_cast<uint8_t>(ppsSize));
  record.insert(record.end(), ppsSize, 0x68);
  return record;
}

TEST(ParameterSets, ConfigurationRecordsBecomeStartCodeUnits) {
  const Bytes avc = AvcRecord(25, 4);
  const Bytes sets = ReadAvcParameterSets(avc.data(), avc.size());
  EXPECT_EQ(sets.size(), 37u);
  EXPECT_EQ(sets[4], 0x67);
  EXPECT_EQ(sets[33], 0x68);
  const Bytes truncated(avc.begin(), avc.end() - 2);
  EXPECT_EQ(ReadAvcParameterSets(truncated.data(), truncated.size()).size(), 29u)
      << "the SPS survives a cut PPS";
  EXPECT_TRUE(ReadAvcParameterSets(avc.data(), 6).empty());

  Bytes hevc(22, 0);
  hevc.push_back(2);  // two arrays
  for (uint8_t type : {0x20, 0x21}) {
    hevc.insert(hevc.end(), {type, 0, 1, 0, 3, type, 1, 2});
  }
  EXPECT_EQ(ReadHevcParameterSets(hevc.data(), hevc.size()).size(), 14u);
  hevc.resize(hevc.size() - 1);
  EXPECT_EQ(ReadHevcParameterSets(hevc.data(), hevc.size()).size(), 7u)
      << "a unit past the end ends the parse";
}

TEST(EncodedOutput, KeyframesCarryTheParameterSetsFirst) {
  const Bytes avc = AvcRecord(25, 4);
  EncodedOutput output;
  output.SetCodec(Codec::H264);
  output.SetParameterSets(ParameterSetsFromExtradata(Codec::H264, avc.data(), avc.size()));
  Bytes keyframe(10000, 0x11);
  keyframe[0] = 0;
  keyframe[1] = 0;
  keyframe[2] = 0;
  keyframe[3] = 1;
  keyframe[4] = 0x65;
  size_t deliveredSize = 0;
  bool deliveredKey = false;
  Bytes first;
  output.SetCallback([&](const uint8_t* d, size_t n, bool key, uint64_t ts) {
    deliveredSize = n;
    deliveredKey = key;
    first.assign(d, d + 5);
    EXPECT_EQ(ts, 4242u);
  });
  output.Deliver(keyframe.data(), keyframe.size(), false, 4242);
  EXPECT_EQ(deliveredSize, 10037u);
  EXPECT_TRUE(deliveredKey);
  EXPECT_TRUE(output.KeyframeProduced());
  EXPECT_EQ(first, (Bytes{0, 0, 0, 1, 0x67}));

  Bytes tiny = {0, 0, 1};
  output.ResetKeyframeProduced();
  output.Deliver(tiny.data(), tiny.size(), false, 4242);
  EXPECT_FALSE(deliveredKey) << "three bytes are never a keyframe by scan";
  EXPECT_FALSE(output.KeyframeProduced());
  output.Deliver(tiny.data(), tiny.size(), true, 4242);
  EXPECT_TRUE(deliveredKey) << "the encoder's clean-point flag decides too";
  EXPECT_EQ(deliveredSize, 40u);
}

}  // namespace
}  // namespace Sorvane
