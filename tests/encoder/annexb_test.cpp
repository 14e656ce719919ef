#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "encoder/annexb.h"
#include "encoder/encoded_output.h"
#include "encoder/frame_input.h"
#include "encoder/hardware_encoder.h"

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

// An encoder's global header in Annex B form: only the parameter sets go in front of
// keyframes, not the encoder's own SEI.
TEST(ParameterSets, AnnexBExtradataKeepsOnlyParameterSets) {
  const Bytes hevc = {0, 0, 0, 1,    0x40, 0x01, 0xAA,        // VPS
                      0, 0, 1, 0x42, 0x01, 0xBB, 0xBB,        // SPS (3-byte start code)
                      0, 0, 0, 1,    0x4E, 0x01, 0x05, 0x99,  // prefix SEI
                      0, 0, 0, 1,    0x44, 0x01, 0xCC};       // PPS
  EXPECT_EQ(ParameterSetsFromExtradata(Codec::HEVC, hevc.data(), hevc.size()),
            (Bytes{0,    0,    0,    1,    0x40, 0x01, 0xAA, 0, 0,    0,    1,
                   0x42, 0x01, 0xBB, 0xBB, 0,    0,    0,    1, 0x44, 0x01, 0xCC}));
  const Bytes avc = {0, 0, 0, 1, 0x06, 0x05, 0x11, 0, 0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x68, 0xEE};
  EXPECT_EQ(ParameterSetsFromExtradata(Codec::H264, avc.data(), avc.size()),
            (Bytes{0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE}));
}

// The owner may replace the callback at any time, even from inside the output path: the swap
// never waits for the delivery in progress, which finishes with the callback it started with.
TEST(EncodedOutput, CallbackCanBeReplacedFromInsideTheOutputPath) {
  EncodedOutput output;
  output.SetCodec(Codec::H264);
  int first = 0, second = 0;
  EncodedFrameCallback replacement = [&](const uint8_t*, size_t, bool, uint64_t) { ++second; };
  output.SetCallback([&](const uint8_t*, size_t, bool, uint64_t) {
    ++first;
    output.SetCallback(replacement);
  });
  const Bytes unit = {0, 0, 0, 1, 0x41, 0x9A};
  output.Deliver(unit.data(), unit.size(), false, 0);
  output.Deliver(unit.data(), unit.size(), false, 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  output.SetCallback(nullptr);
  output.Deliver(unit.data(), unit.size(), true, 0);
  EXPECT_FALSE(output.KeyframeProduced()) << "with no callback the unit is discarded";
}

// Every operation an implementation leaves to the base class.
class MinimalEncoder final : public IHardwareEncoder {
 public:
  int keyframeRequests = 0;
  bool Configure(int, int, uint32_t, int) override { return false; }
  void Shutdown() override {}
  bool IsConfigured() const override { return false; }
  int Width() const override { return 0; }
  int Height() const override { return 0; }
  int FrameRate() const override { return 30; }
  void EncodeFrame(const uint8_t*, int, int, int) override {}
  void RequestKeyframe() override { ++keyframeRequests; }
  void SetBitrate(uint32_t) override {}
  uint32_t Bitrate() const override { return 0; }
  void SetPeakBitrate(uint32_t) override {}
  void SetGopSize(int) override {}
  int GopSize() const override { return 1; }
  void SetCodec(Codec) override {}
  Codec GetCodec() const override { return Codec::HEVC; }
  void SetRateControl(RateControlMode, float) override {}
  RateControlMode GetRateControl() const override { return RateControlMode::Bitrate; }
  void CompressEmergency(int) override {}
  void SetFrameCap(uint32_t) override {}
  uint32_t FrameCap() const override { return kDefaultFrameCap; }
  void SetOutputCallback(EncodedFrameCallback) override {}
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings&) override { return nullptr; }
  bool HasProducedKeyframe() const override { return false; }
};

TEST(EncoderInterface, BaseClassDefaults) {
  MinimalEncoder encoder;
  IHardwareEncoder& base = encoder;
  base.ForceKeyframe();
  EXPECT_EQ(encoder.keyframeRequests, 1) << "ForceKeyframe is RequestKeyframe unless overridden";
  EXPECT_EQ(base.Description(), "");
  base.SetQualityMode(0.3f);
  base.SetHrdBufferBits(1000, 2000);
  const EncoderSettings defaults;
  EXPECT_EQ(defaults.fps, 30);
  EXPECT_EQ(defaults.gopFrames, 1);
  EXPECT_EQ(defaults.codec, Codec::HEVC);
  EXPECT_EQ(defaults.rateControl, RateControlMode::Bitrate);
  EXPECT_FLOAT_EQ(defaults.quality, 0.75f);
  EXPECT_EQ(defaults.frameCap, 340000u);
  EXPECT_EQ(ClampFrameCap(0), 340000u);
  EXPECT_EQ(ClampFrameCap(50), 100000u);
  EXPECT_EQ(ClampFrameCap(30000000), 20000000u);
  EXPECT_STREQ(CodecLabel(Codec::H264), "H264");
  EXPECT_STREQ(RateControlLabel(static_cast<RateControlMode>(7)), "Bitrate");
}

TEST(EncoderInterface, ShortRowsAreRefusedBeforeAnyRead) {
  const uint8_t pixel[4] = {};
  EXPECT_EQ(CheckFrameInput(pixel, 64, 64, 64 * 4), FrameInput::Encode);
  EXPECT_EQ(CheckFrameInput(pixel, 64, 64, 64 * 4 - 1), FrameInput::ShortRows);
  EXPECT_EQ(CheckFrameInput(pixel, 600000000, 2, 2000000000), FrameInput::ShortRows)
      << "width × 4 must not overflow";
  EXPECT_EQ(CheckFrameInput(nullptr, 64, 64, 256), FrameInput::Ignore);
  EXPECT_EQ(CheckFrameInput(pixel, 64, 0, 256), FrameInput::Ignore);
  EXPECT_EQ(CheckFrameInput(pixel, 64, 64, -256), FrameInput::Ignore);
}

}  // namespace
}  // namespace Sorvane
