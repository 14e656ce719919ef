#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log.h"
#include "encoder/encoder_description.h"
#include "encoder/encoder_factory.h"
#include "encoder/encoder_settings_text.h"
#include "encoder/libav_encoder.h"
#include "encoder/libav_rate_control.h"
#include "support/temp_profile.h"
#include "sv-host/test_scene.h"
#include "support/plugin_log.h"

namespace Sorvane {
namespace {

// Occurrences of `text` in this program's log.
size_t LogCount(const std::string& text) {
  const std::string log = test::TestLog();
  size_t count = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
    ++count;
  return count;
}

TEST(LibavRateControl, ModesMapToLibavcodecFields) {
  const RateFields cbr = RateFieldsFor(RateControlMode::Bitrate, 10'000'000, 0, 0.75f);
  EXPECT_EQ(cbr.bitRate, 10'000'000);
  EXPECT_EQ(cbr.minRate, 10'000'000);
  EXPECT_EQ(cbr.maxRate, 10'000'000);
  EXPECT_EQ(cbr.bufferSize, 5'000'000);
  EXPECT_LT(cbr.crf, 0);

  const RateFields vbr = RateFieldsFor(RateControlMode::VBR, 10'000'000, 16'000'000, 0.75f);
  EXPECT_EQ(vbr.bitRate, 10'000'000);
  EXPECT_EQ(vbr.minRate, 0);
  EXPECT_EQ(vbr.maxRate, 16'000'000);
  const RateFields lowPeak = RateFieldsFor(RateControlMode::VBR, 10'000'000, 8'000'000, 0.75f);
  EXPECT_EQ(lowPeak.maxRate, 13'000'000) << "a peak below the mean counts as none";
  const RateFields bigMean = RateFieldsFor(RateControlMode::VBR, 4'000'000'000u, 0, 0.75f);
  EXPECT_EQ(bigMean.maxRate, 5'200'000'000) << "no 32-bit overflow in mean × 13 / 10";

  const RateFields quality = RateFieldsFor(RateControlMode::Quality, 10'000'000, 0, 0.75f);
  EXPECT_EQ(quality.bitRate, 0);
  EXPECT_DOUBLE_EQ(quality.crf, 17.5);
  EXPECT_EQ(quality.maxRate, 13'000'000);
  EXPECT_DOUBLE_EQ(CrfForQuality(0.0f), 40.0);
  EXPECT_DOUBLE_EQ(CrfForQuality(1.7f), 10.0);

  const RateFields other = RateFieldsFor(static_cast<RateControlMode>(9), 10'000'000, 0, 0.75f);
  EXPECT_EQ(other.minRate, 10'000'000) << "an unknown mode is constant bitrate";

  EXPECT_EQ(EncoderKeyframeInterval(1), 1);
  EXPECT_EQ(EncoderKeyframeInterval(60), 61);
}

TEST(EncoderSettingsText, ReadsBackWhatItWritesAndRefusesBrokenLines) {
  EncoderSettings s;
  s.width = 1918;
  s.height = 1080;
  s.fps = 60;
  s.bitrateBps = 150'000'000;
  s.peakBitrateBps = 4'000'000'000u;
  s.gopFrames = 5;
  s.codec = Codec::H264;
  s.rateControl = RateControlMode::Quality;
  s.quality = 0.7f;
  s.frameCap = 340'000;
  const std::string text = FormatEncoderSettings(s);
  EXPECT_EQ(text,
            "codec=H264 size=1918x1080 fps=60 bitrate=150000000 peak=4000000000 gop=5 "
            "rc=Quality quality=0.70 cap=340000");
  const auto back = ParseEncoderSettings(text);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(FormatEncoderSettings(*back), text);
  EXPECT_EQ(back->codec, Codec::H264);
  EXPECT_EQ(back->rateControl, RateControlMode::Quality);
  EXPECT_EQ(back->peakBitrateBps, 4'000'000'000u);

  for (const char* broken :
       {"codec=H264 size=1918x1080 fps=60 bitrate=1 peak=0 gop=5 rc=Quality quality=0.70",
        "codec=AV1 size=64x64 fps=60 bitrate=1 peak=0 gop=5 rc=Quality quality=0.70 cap=0",
        "codec=HEVC size=64x64x2 fps=60 bitrate=1 peak=0 gop=5 rc=VBR quality=0.70 cap=0",
        "codec=HEVC size=0x64 fps=60 bitrate=1 peak=0 gop=5 rc=VBR quality=0.70 cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=-1 peak=0 gop=5 rc=VBR quality=0.70 cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=1 peak=0 gop=0 rc=VBR quality=0.70 cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=1 peak=0 gop=5 rc=CBR quality=0.70 cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=1 peak=0 gop=5 rc=VBR quality=1.5 cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=1 peak=0 gop=5 rc=VBR quality=0.7x cap=0",
        "codec=HEVC size=64x64 fps=60 bitrate=9999999999 peak=0 gop=5 rc=VBR quality=0 cap=0",
        ""}) {
    EXPECT_FALSE(ParseEncoderSettings(broken).has_value()) << broken;
  }
}

// A measurement reopens the stream's encoder from the line the encoder logs: the same settings
// must give the same encoder, byte for byte.
TEST(LibavEncoderApply, TheLoggedSettingsOpenTheSameEncoder) {
  LibavEncoder stream;  // set up as the plug-in does: opened, then the phone's settings
  ASSERT_TRUE(stream.Configure(320, 240, 150'000'000, 60));
  stream.SetCodec(Codec::H264);
  stream.SetGopSize(5);
  stream.SetRateControl(RateControlMode::Quality, 0.7f);
  const std::string log = test::TestLog();
  const std::string prefix = "encoder settings: ";
  const size_t at = log.rfind(prefix);
  ASSERT_NE(at, std::string::npos);
  const std::string line =
      log.substr(at + prefix.size(), log.find_first_of("\r\n", at) - at - prefix.size());
  EXPECT_EQ(line, FormatEncoderSettings(stream.Settings()));
  const auto settings = ParseEncoderSettings(line);
  ASSERT_TRUE(settings.has_value()) << line;

  LibavEncoder measured;
  ASSERT_TRUE(measured.Apply(*settings));
  EXPECT_EQ(FormatEncoderSettings(measured.Settings()), line);
  std::vector<std::vector<uint8_t>> fromStream, fromMeasured;
  stream.SetOutputCallback([&fromStream](const uint8_t* d, size_t n, bool, uint64_t) {
    fromStream.emplace_back(d, d + n);
  });
  measured.SetOutputCallback([&fromMeasured](const uint8_t* d, size_t n, bool, uint64_t) {
    fromMeasured.emplace_back(d, d + n);
  });
  std::vector<uint8_t> bgra(320 * 240 * 4);
  for (uint32_t i = 0; i < 12; ++i) {
    hostsim::RenderTestScene(bgra.data(), 320, 240, 320 * 4, {i, i * 16667ull});
    stream.EncodeFrame(bgra.data(), 320, 240, 320 * 4);
    measured.EncodeFrame(bgra.data(), 320, 240, 320 * 4);
  }
  ASSERT_EQ(fromStream.size(), 12u);
  EXPECT_EQ(fromStream, fromMeasured);

  LibavEncoder defaults;  // the encoder's own defaults differ: the comparison has teeth
  ASSERT_TRUE(defaults.Configure(320, 240, 150'000'000, 60));
  EXPECT_NE(FormatEncoderSettings(defaults.Settings()), line);
}

TEST(LibavEncoderLiveSetters, StoreApplyAndLogAsTheirRulesSay) {
  LibavEncoder encoder;
  encoder.SetCodec(Codec::H264);
  encoder.SetPeakBitrate(5'000'000);  // not configured, Bitrate mode: nothing at all
  ASSERT_TRUE(encoder.Configure(320, 240, 8'000'000, 30));
  const size_t peaks = LogCount("SetPeakBitrate:");
  encoder.SetPeakBitrate(5'000'000);  // Bitrate mode: nothing at all
  EXPECT_EQ(LogCount("SetPeakBitrate:"), peaks);

  encoder.SetRateControl(RateControlMode::VBR, 0.75f);
  encoder.SetPeakBitrate(5'000'000);
  EXPECT_EQ(LogCount("SetPeakBitrate: max=8000000 bps (mean=8000000, ratio=1.00)"), 1u)
      << "a peak below the mean is raised to the mean";

  encoder.SetQualityMode(0.5f);
  EXPECT_EQ(LogCount("SetQualityMode q=0.50 stored (not in Quality mode)"), 1u);
  encoder.SetQualityMode(0.503f);
  EXPECT_EQ(LogCount("SetQualityMode q=0.50"), 1u) << "a change below 0.005 is ignored";
  encoder.SetRateControl(RateControlMode::Quality, 0.5f);
  encoder.SetQualityMode(1.7f);
  EXPECT_EQ(LogCount("SetQualityMode q=1.00 → crf=10.0 hr=0x00000000"), 1u)
      << "libx264 takes the new quality live";

  encoder.SetHrdBufferBits(0, 5'000'000);
  encoder.SetHrdBufferBits(4'000'000, 5'000'000);
  EXPECT_EQ(LogCount("SetHrdBufferBits: buf=4000000 avg=5000000 → mean=5000000 max=10000000 "
                     "hr=(0x00000000,0x00000000)"),
            1u);
  EXPECT_EQ(LogCount("SetHrdBufferBits: buf=0"), 0u);
  EXPECT_EQ(encoder.Bitrate(), 8'000'000u) << "the HRD setter leaves the stored bitrate";

  encoder.SetBitrate(0);
  EXPECT_EQ(encoder.Bitrate(), 8'000'000u);
  encoder.CompressEmergency(0);
  encoder.CompressEmergency(3);
  EXPECT_EQ(LogCount("emergency compression: 3 frames at QP=51"), 1u);
}

TEST(LibavEncoderDescription, ProcessWideDescriptionFollowsTheLastEncoder) {
  LibavEncoder first, second;
  first.SetCodec(Codec::H264);
  second.SetCodec(Codec::H264);
  ASSERT_TRUE(first.Configure(320, 240, 0, 30));
  EXPECT_EQ(CurrentEncoderDescription(), first.Description());
  ASSERT_TRUE(second.Configure(640, 360, 6'000'000, 60));
  EXPECT_EQ(CurrentEncoderDescription(), "libx264 [SW, 640x360 H.264 @ 60 fps, 6 Mbps]");
  first.Shutdown();
  EXPECT_EQ(CurrentEncoderDescription(), "") << "the last one to tear down sets it";
  EXPECT_EQ(second.Description(), "libx264 [SW, 640x360 H.264 @ 60 fps, 6 Mbps]");
  EXPECT_FALSE(second.Configure(16, 8, 0, 30));
  EXPECT_EQ(second.Description(), "");
  EXPECT_EQ(second.Width(), 0);
  EXPECT_EQ(second.FrameRate(), 30);
}

TEST(LibavEncoderDescription, SoftwareHevcAboveTheCapIsRefused) {
  LibavEncoder encoder;
  encoder.SetCodec(Codec::HEVC);
  EXPECT_FALSE(encoder.Configure(3840, 2160, 0, 30));
  EXPECT_EQ(LogCount("Refusing 3840x2160 on SW HEVC encoder \"libx265\" — above 6.0 MPx cap"), 1u);
  EXPECT_FALSE(encoder.IsConfigured());
  encoder.SetCodec(Codec::H264);
  EXPECT_FALSE(encoder.IsConfigured()) << "a closed encoder is not reopened by a setter";
}

// No hardware encoder opens on this machine: the list is the software entry alone, and every
// engine still gets a new, unconfigured encoder.
TEST(LinuxFactories, EnginesAndEncoders) {
  const std::vector<EncoderEngine> engines = EnumerateEngines();
  ASSERT_FALSE(engines.empty());
  EXPECT_EQ(engines.back().id, "software");
  EXPECT_EQ(engines.back().label, "Software (CPU)");
  if (engines.size() == 1) {
    EXPECT_EQ(engines.back().note,
              "No hardware encoder detected. Using CPU — expect higher CPU load and lower "
              "quality.");
  }
  EXPECT_EQ(LogCount("EnumerateEngines: nvidia="), 1u);
  const auto a = CreateDefaultEncoder();
  const auto b = CreateForEngine("intel");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_FALSE(b->IsConfigured());
  EXPECT_EQ(b->Description(), "");
  EXPECT_EQ(b->GetCodec(), Codec::HEVC);
  EXPECT_EQ(b->GopSize(), 1);
  EXPECT_EQ(b->FrameCap(), 340000u);
}

}  // namespace
}  // namespace Sorvane
