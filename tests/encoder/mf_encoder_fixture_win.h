#pragma once
// The Media Foundation encoder's tests against the test transform: pictures that change with
// every frame, the encoder as the plug-in makes it (alone or in a pipeline), and what came out.
#include <gtest/gtest.h>

#include <objbase.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoder/color_convert.h"
#include "encoder/mf_encoder_win.h"
#include "host/encoder_pipeline.h"
#include "store/install_identity.h"
#include "support/ipcm_h264.h"
#include "support/plugin_log.h"
#include "support/test_transform/test_transform.h"

namespace Sorvane::test {

constexpr int kW = 96, kH = 64;

struct Unit {
  std::vector<uint8_t> data;
  bool keyframe;
  uint64_t timestampUs;
};

// A picture that changes with every frame and every position.
inline std::vector<uint8_t> Picture(int w, int h, int seed) {
  std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &bgra[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = static_cast<uint8_t>(x * 3 + seed * 17);
      p[1] = static_cast<uint8_t>(y * 5 + seed * 7);
      p[2] = static_cast<uint8_t>((x ^ y) + seed * 29);
      p[3] = 255;
    }
  }
  return bgra;
}

inline Nv12Image CpuNv12(const std::vector<uint8_t>& bgra, int w, int h) {
  Nv12Image image(w, h);
  ConvertCpu(bgra.data(), w * 4, image.y.data(), image.uv.data(), w, h);
  return image;
}

class MfEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    installid::SetEnableAsyncHwEncoders(false);
    logStart_ = TestLog().size();
  }
  void TearDown() override { CoUninitialize(); }

  static TestTransformOptions Options(bool async, bool hardware, const wchar_t* name) {
    TestTransformOptions options;
    options.async = async;
    options.hardware = hardware;
    options.friendlyName = name;
    return options;
  }
  std::unique_ptr<MediaFoundationEncoder> Encoder(int gop = 1,
                                                  std::unique_ptr<GpuNv12Converter> gpu = nullptr) {
    auto encoder = std::make_unique<MediaFoundationEncoder>(std::move(gpu));
    encoder->SetCodec(Codec::H264);
    encoder->SetGopSize(gop);
    encoder->SetOutputCallback(Collector());
    return encoder;
  }
  EncodedFrameCallback Collector() {
    return [this](const uint8_t* d, size_t n, bool key, uint64_t ts) {
      std::lock_guard<std::mutex> lock(unitsLock_);
      units_.push_back({std::vector<uint8_t>(d, d + n), key, ts});
    };
  }
  // An encoder in a pipeline, as the plug-in drives it (a lost encoder is reopened there).
  std::unique_ptr<EncoderPipeline> Pipeline() {
    std::shared_ptr<MediaFoundationEncoder> encoder = Encoder();
    auto pipeline = std::make_unique<EncoderPipeline>(encoder);
    pipeline->SetOutputCallback(Collector());
    return pipeline;
  }
  std::vector<Unit> Units() {
    std::lock_guard<std::mutex> lock(unitsLock_);
    return units_;
  }
  bool WaitForUnits(size_t n, int rounds = 500) {
    for (int i = 0; i < rounds; ++i) {
      if (Units().size() >= n)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string NewLog() { return TestLog().substr(logStart_); }

  // Every unit decodes to the CPU conversion of the frame it came from.
  void ExpectPicturesMatch(const std::vector<std::vector<uint8_t>>& inputs) {
    ASSERT_EQ(Units().size(), inputs.size());
    ExpectFirstPicturesMatch(inputs);
  }
  // The same for as many units as came out (a transform with frames in flight owes the rest).
  void ExpectFirstPicturesMatch(const std::vector<std::vector<uint8_t>>& inputs) {
    const std::vector<Unit> units = Units();
    ASSERT_LE(units.size(), inputs.size());
    IpcmH264Reader reader;
    for (size_t i = 0; i < units.size(); ++i) {
      const auto picture = reader.DecodeAccessUnit(units[i].data.data(), units[i].data.size());
      ASSERT_TRUE(picture.has_value()) << "unit " << i << ": " << reader.Error();
      EXPECT_TRUE(*picture == CpuNv12(inputs[i], kW, kH)) << "unit " << i;
    }
  }

  size_t logStart_ = 0;
  std::mutex unitsLock_;
  std::vector<Unit> units_;
};

}  // namespace Sorvane::test
