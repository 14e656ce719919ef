#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "encoder/color_convert.h"
#include "encoder/libav_encoder.h"
#include "host/encoder_pipeline.h"
#include "support/plugin_log.h"
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
  EXPECT_NE(test::TestLog().find("Configure: invalid 15x1080@30"), std::string::npos);
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

double LumaPsnr(const receiver::DecodedPicture& p, const std::vector<uint8_t>& y, int w, int h) {
  double squared = 0;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const double d = double(p.luma[r * p.lumaStride + c]) - y[r * w + c];
      squared += d * d;
    }
  }
  return 10 * std::log10(255.0 * 255.0 / (squared / (double(w) * h) + 1e-9));
}

// libx265: the same keyframe rule and parameter sets, a picture that decodes, and the coarsest
// quantiser reaching HEVC frames too.
TEST(LibavEncoderHevc, KeyframeRuleParameterSetsPictureAndEmergency) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::HEVC);
  encoder.SetGopSize(10);
  ASSERT_TRUE(encoder.Configure(640, 360, 4000000, 30));
  EXPECT_NE(encoder.Description().find("libx265 [SW, 640x360 HEVC @ 30 fps, 4 Mbps]"),
            std::string::npos)
      << encoder.Description();
  Scene scene(640, 360);
  std::vector<uint8_t> y(640 * 360), uv(640 * 180);
  double worstPsnr = 99;
  int pictures = 0;
  receiver::VideoDecoder decoder([&](const receiver::DecodedPicture& p) {
    ++pictures;
    worstPsnr = std::min(worstPsnr, LumaPsnr(p, y, 640, 360));
  });
  for (uint32_t i = 0; i < 24; ++i) {
    const uint8_t* frame = scene.Frame(i);
    ConvertCpu(frame, scene.stride(), y.data(), uv.data(), 640, 360);
    encoder.EncodeFrame(frame, 640, 360, scene.stride());
    ASSERT_EQ(outputs.size(), i + 1) << "one access unit per frame, before the next goes in";
    decoder.Decode(receiver::VideoDecoder::Codec::HEVC, outputs.back().data.data(),
                   outputs.back().data.size());
  }
  EXPECT_EQ(KeyIndices(outputs), (std::vector<size_t>{0, 11, 22}));
  for (size_t key : KeyIndices(outputs)) {
    ASSERT_GE(outputs[key].data.size(), 5u);
    EXPECT_EQ((outputs[key].data[4] >> 1) & 0x3F, 32) << "the VPS leads keyframe " << key;
  }
  EXPECT_EQ(pictures, 24);
  EXPECT_GT(worstPsnr, 35.0);

  double normal = 0;
  for (size_t i = 12; i < 22; ++i)
    normal += outputs[i].data.size();
  normal /= 10;
  encoder.CompressEmergency(5);
  for (uint32_t i = 24; i < 30; ++i)
    encoder.EncodeFrame(scene.Frame(i), 640, 360, scene.stride());
  EXPECT_TRUE(outputs[24].keyframe);
  double squeezed = 0;
  for (size_t i = 25; i < 29; ++i)
    squeezed += outputs[i].data.size();
  squeezed /= 4;
  EXPECT_LT(squeezed, normal * 0.7) << "normal " << normal << " B, emergency " << squeezed;
}

// Frames of another size are scaled to the configured one; an odd size is coded one pixel
// smaller (4:2:0 needs even sizes) and still reports the size it was configured with.
TEST(LibavEncoderInput, ScaledAndOddSizes) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  std::vector<std::pair<int, int>> sizes;
  receiver::VideoDecoder decoder(
      [&](const receiver::DecodedPicture& p) { sizes.emplace_back(p.width, p.height); });
  ASSERT_TRUE(encoder.Configure(640, 360, 0, 30));
  Scene small(320, 180);
  encoder.EncodeFrame(small.Frame(0), 320, 180, small.stride());
  ASSERT_EQ(outputs.size(), 1u);
  decoder.Decode(receiver::VideoDecoder::Codec::H264, outputs[0].data.data(),
                 outputs[0].data.size());

  ASSERT_TRUE(encoder.Configure(321, 179, 0, 30));
  EXPECT_EQ(encoder.Width(), 321);
  EXPECT_EQ(encoder.Height(), 179);
  Scene odd(321, 179);
  encoder.EncodeFrame(odd.Frame(0), 321, 179, odd.stride());
  ASSERT_EQ(outputs.size(), 2u);
  decoder.Decode(receiver::VideoDecoder::Codec::H264, outputs[1].data.data(),
                 outputs[1].data.size());
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{640, 360}, {320, 178}}));
}

// Reopening setters restart the time line with a keyframe; a live bitrate change does not.
TEST(LibavEncoderSettings, ReopenRestartsTheTimeLineLiveChangesDoNot) {
  LibavEncoder encoder;
  std::vector<Output> outputs;
  Collect(encoder, outputs);
  encoder.SetCodec(Codec::H264);
  encoder.SetGopSize(100);
  ASSERT_TRUE(encoder.Configure(320, 240, 4000000, 25));
  Scene scene(320, 240);
  for (uint32_t i = 0; i < 4; ++i)
    encoder.EncodeFrame(scene.Frame(i), 320, 240, scene.stride());
  EXPECT_EQ(outputs.back().timestampUs, 120000u);

  encoder.SetBitrate(2000000);
  EXPECT_EQ(encoder.Bitrate(), 2000000u);
  encoder.EncodeFrame(scene.Frame(4), 320, 240, scene.stride());
  EXPECT_FALSE(outputs.back().keyframe);
  EXPECT_EQ(outputs.back().timestampUs, 160000u);

  encoder.SetGopSize(50);
  EXPECT_TRUE(encoder.IsConfigured());
  EXPECT_EQ(encoder.Width(), 320);
  encoder.EncodeFrame(scene.Frame(5), 320, 240, scene.stride());
  EXPECT_TRUE(outputs.back().keyframe);
  EXPECT_EQ(outputs.back().timestampUs, 0u);
  EXPECT_NE(encoder.Description().find("2 Mbps]"), std::string::npos)
      << "the reopened encoder keeps the live bitrate";

  encoder.SetRateControl(RateControlMode::Quality, 0.5f);
  encoder.EncodeFrame(scene.Frame(6), 320, 240, scene.stride());
  EXPECT_TRUE(outputs.back().keyframe);
  EXPECT_EQ(encoder.GetRateControl(), RateControlMode::Quality);
  const size_t before = outputs.size();
  encoder.SetRateControl(RateControlMode::Quality, 0.503f);  // same setting: no reopen
  encoder.EncodeFrame(scene.Frame(7), 320, 240, scene.stride());
  ASSERT_EQ(outputs.size(), before + 1);
  EXPECT_FALSE(outputs.back().keyframe);
}

// A real encoder switched from 720p to 1080p through the pipeline: one access unit for every
// frame pushed (and at the hand-over the copy's keyframe of that frame too), the picture size
// changes without a gap.
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
  size_t decoded = 0;
  int handOvers = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    if (i == 10)
      pipeline.Reconfigure(to);
    pipeline.Encode(scene.Frame(i), 1920, 1080, scene.stride());
    const size_t added = outputs.size() - decoded;
    ASSERT_TRUE(added == 1 || added == 2) << "frame " << i << " gave " << added << " outputs";
    handOvers += added == 2 ? 1 : 0;
    for (; decoded < outputs.size(); ++decoded) {
      decoder.Decode(receiver::VideoDecoder::Codec::H264, outputs[decoded].data.data(),
                     outputs[decoded].data.size());
    }
    if (i < 60)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(pipeline.Width(), 1920);
  EXPECT_EQ(handOvers, 1);
  ASSERT_EQ(sizes.size(), frames + 1);
  EXPECT_EQ(sizes.front(), std::make_pair(1280, 720));
  EXPECT_EQ(sizes.back(), std::make_pair(1920, 1080));
  pipeline.Shutdown();
}

}  // namespace
}  // namespace Sorvane
