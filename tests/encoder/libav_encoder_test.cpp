#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "encoder/color_convert.h"
#include "encoder/libav_encoder.h"
#include "host/encoder_pipeline.h"
#include "support/temp_profile.h"
#include "sv-host/test_scene.h"
#include "sv-receiver/app/video_decoder.h"

namespace Sorvane {
namespace {

struct Output {
  std::vector<uint8_t> data;
  bool keyframe;
  uint64_t timestampUs;
};

class Scene {
 public:
  Scene(int w, int h) : w_(w), h_(h), bgra_(static_cast<size_t>(w) * h * 4) {}
  const uint8_t* Frame(uint32_t index) {
    hostsim::RenderTestScene(bgra_.data(), w_, h_, w_ * 4, {index, index * 33333ull});
    return bgra_.data();
  }
  int stride() const { return w_ * 4; }

 private:
  int w_, h_;
  std::vector<uint8_t> bgra_;
};

std::vector<Output>& Collect(IHardwareEncoder& encoder, std::vector<Output>& sink) {
  encoder.SetOutputCallback([&sink](const uint8_t* d, size_t n, bool key, uint64_t ts) {
    sink.push_back({std::vector<uint8_t>(d, d + n), key, ts});
  });
  return sink;
}

std::vector<size_t> KeyIndices(const std::vector<Output>& outputs) {
  std::vector<size_t> keys;
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (outputs[i].keyframe)
      keys.push_back(i);
  }
  return keys;
}

TEST(LibavEncoderSettings, DefaultsClampsAndFailures) {
  LibavEncoder encoder;
  EXPECT_EQ(encoder.Description(), "");
  EXPECT_FALSE(encoder.Configure(15, 1080, 0, 30));
  EXPECT_NE(test::ReadFile(LogFolder() / "plugin-x.log").find("Configure: invalid 15x1080@30"),
            std::string::npos);
  encoder.SetFrameCap(50);
  EXPECT_EQ(encoder.FrameCap(), 100000u);
  encoder.SetFrameCap(30000000);
  EXPECT_EQ(encoder.FrameCap(), 20000000u);
  encoder.SetCodec(Codec::H264);
  ASSERT_TRUE(encoder.Configure(320, 240, 0, 30));
  EXPECT_EQ(encoder.Bitrate(), 15000000u);
  const std::string description = encoder.Description();
  EXPECT_NE(description.find("[SW, 320x240 H.264 @ 30 fps, 15 Mbps]"), std::string::npos)
      << description;

  EncoderSettings settings;
  settings.width = 320;
  settings.height = 240;
  settings.gopFrames = 0;
  settings.frameCap = 0;
  settings.codec = Codec::H264;
  auto clone = encoder.Clone(settings);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->GopSize(), 1);
  EXPECT_EQ(clone->FrameCap(), 340000u);
  settings.width = 8;
  EXPECT_EQ(encoder.Clone(settings), nullptr);
  encoder.Shutdown();
  EXPECT_EQ(encoder.Description(), "");
  EXPECT_EQ(encoder.FrameRate(), 30);
}

TEST(LibavEncoderH264, KeyframeRuleParameterSetsAndPicture) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  encoder.SetGopSize(60);
  ASSERT_TRUE(encoder.Configure(1280, 720, 15000000, 30));
  Scene scene(1280, 720);
  double worstPsnr = 99;
  std::vector<uint8_t> y(1280 * 720), uv(1280 * 360);
  bool checkPicture = false;
  receiver::VideoDecoder decoder([&](const receiver::DecodedPicture& p) {
    if (!checkPicture)
      return;
    ConvertCpu(scene.Frame(static_cast<uint32_t>(outputs.size() - 1)), scene.stride(), y.data(),
               uv.data(), 1280, 720);
    double squared = 0;
    for (int r = 0; r < 720; ++r) {
      for (int c = 0; c < 1280; ++c) {
        const double d = double(p.luma[r * p.lumaStride + c]) - y[r * 1280 + c];
        squared += d * d;
      }
    }
    worstPsnr =
        std::min(worstPsnr, 10 * std::log10(255.0 * 255.0 / (squared / (1280.0 * 720) + 1e-9)));
  });
  for (uint32_t i = 0; i < 65; ++i) {
    encoder.EncodeFrame(scene.Frame(i), 1280, 720, scene.stride());
    ASSERT_EQ(outputs.size(), i + 1) << "one access unit per frame, before the next goes in";
    checkPicture = i % 8 == 0;
    decoder.Decode(receiver::VideoDecoder::Codec::H264, outputs.back().data.data(),
                   outputs.back().data.size());
  }
  EXPECT_EQ(KeyIndices(outputs), (std::vector<size_t>{0, 61}));
  const auto& first = outputs[0].data;
  ASSERT_GE(first.size(), 5u);
  EXPECT_EQ(first[4] & 0x1F, 7) << "the SPS leads the first keyframe";
  EXPECT_EQ(outputs[0].timestampUs, 0u);
  EXPECT_EQ(outputs[3].timestampUs, 100000u);
  EXPECT_TRUE(encoder.HasProducedKeyframe());
  EXPECT_GT(worstPsnr, 35.0);

  encoder.ForceKeyframe();
  encoder.EncodeFrame(scene.Frame(65), 1280, 720, scene.stride());
  EXPECT_TRUE(outputs.back().keyframe);
}

TEST(LibavEncoderH264, AllIntraAndCodecSwitch) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  ASSERT_TRUE(encoder.Configure(640, 360, 8000000, 30));
  Scene scene(640, 360);
  for (uint32_t i = 0; i < 5; ++i)
    encoder.EncodeFrame(scene.Frame(i), 640, 360, scene.stride());
  EXPECT_EQ(KeyIndices(outputs).size(), 5u) << "GOP 1: every frame is a keyframe";

  encoder.SetCodec(Codec::HEVC);
  EXPECT_EQ(encoder.GetCodec(), Codec::HEVC);
  outputs.clear();
  encoder.EncodeFrame(scene.Frame(5), 640, 360, scene.stride());
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_TRUE(outputs[0].keyframe);
  EXPECT_EQ((outputs[0].data[4] >> 1) & 0x3F, 32) << "an HEVC VPS now leads the keyframe";
  EXPECT_NE(encoder.Description().find("HEVC"), std::string::npos);
}

TEST(LibavEncoderH264, EmergencyCompressionShrinksFrames) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  encoder.SetGopSize(600);
  encoder.SetRateControl(RateControlMode::Quality, 0.9f);
  ASSERT_TRUE(encoder.Configure(1280, 720, 15000000, 30));
  Scene scene(1280, 720);
  for (uint32_t i = 0; i < 10; ++i)
    encoder.EncodeFrame(scene.Frame(i), 1280, 720, scene.stride());
  double normal = 0;
  for (size_t i = 5; i < 10; ++i)
    normal += outputs[i].data.size();
  normal /= 5;
  encoder.CompressEmergency(5);
  for (uint32_t i = 10; i < 15; ++i)
    encoder.EncodeFrame(scene.Frame(i), 1280, 720, scene.stride());
  EXPECT_TRUE(outputs[10].keyframe);
  double squeezed = 0;
  for (size_t i = 11; i < 15; ++i)
    squeezed += outputs[i].data.size();
  squeezed /= 4;
  EXPECT_LT(squeezed, normal * 0.7) << "normal P " << normal << " B, emergency " << squeezed;
}

TEST(LibavEncoderRows, ShortRowsAreRefused) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  ASSERT_TRUE(encoder.Configure(64, 64, 0, 30));
  std::vector<uint8_t> pixels(64 * 64 * 4);
  encoder.EncodeFrame(pixels.data(), 64, 64, 64 * 4 - 4);
  EXPECT_TRUE(outputs.empty());
  encoder.EncodeFrame(pixels.data(), 64, 64, 64 * 4);
  EXPECT_EQ(outputs.size(), 1u);
}

// A real encoder switched from 720p to 1080p through the pipeline: one access unit for every
// frame pushed, the picture size changes without a gap.
TEST(LibavEncoderPipeline, SeamlessSwitchHasNoGap) {
  auto encoder = std::make_shared<LibavEncoder>();
  encoder->SetCodec(Codec::H264);
  encoder->SetGopSize(30);
  EncoderPipeline pipeline(encoder);
  std::vector<Output> outputs;
  pipeline.SetOutputCallback([&](const uint8_t* d, size_t n, bool key, uint64_t ts) {
    outputs.push_back({std::vector<uint8_t>(d, d + n), key, ts});
  });
  ASSERT_TRUE(pipeline.Configure(1280, 720, 15000000, 30));
  Scene scene(1920, 1080);
  std::vector<std::pair<int, int>> sizes;
  receiver::VideoDecoder decoder(
      [&](const receiver::DecodedPicture& p) { sizes.emplace_back(p.width, p.height); });
  EncoderSettings to;
  to.width = 1920;
  to.height = 1080;
  to.fps = 30;
  to.bitrateBps = 15000000;
  to.gopFrames = 30;
  to.codec = Codec::H264;
  const uint32_t frames = 90;
  for (uint32_t i = 0; i < frames; ++i) {
    if (i == 10)
      pipeline.Reconfigure(to);
    pipeline.Encode(scene.Frame(i), 1920, 1080, scene.stride());
    ASSERT_EQ(outputs.size(), i + 1) << "frame " << i << " produced no output";
    decoder.Decode(receiver::VideoDecoder::Codec::H264, outputs.back().data.data(),
                   outputs.back().data.size());
    if (i < 60)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(pipeline.Width(), 1920);
  ASSERT_EQ(sizes.size(), frames);
  EXPECT_EQ(sizes.front(), std::make_pair(1280, 720));
  EXPECT_EQ(sizes.back(), std::make_pair(1920, 1080));
  pipeline.Shutdown();
}

}  // namespace
}  // namespace Sorvane
