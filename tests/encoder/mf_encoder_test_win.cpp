// The Media Foundation encoder against the test transform: candidate order and the asynchronous
// switch, fall-through on every refusal, the codec properties, pictures read back exactly from
// the I_PCM output, keyframe rules, and that no transform outlives its encoder.
#include <gtest/gtest.h>

#include <objbase.h>

#include <codecapi.h>
#include <mferror.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "encoder/color_convert.h"
#include "encoder/d3d11_nv12_converter_win.h"
#include "encoder/mf_encoder_win.h"
#include "host/encoder_pipeline.h"
#include "store/install_identity.h"
#include "support/ipcm_h264.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "support/test_transform/test_transform.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using test::GlobalTransformCounters;
using test::Nv12Image;
using test::TestTransformOptions;
using test::TestTransformRegistration;

constexpr int kW = 96, kH = 64;

struct Unit {
  std::vector<uint8_t> data;
  bool keyframe;
  uint64_t timestampUs;
};

// A picture that changes with every frame and every position.
std::vector<uint8_t> Picture(int w, int h, int seed) {
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

Nv12Image CpuNv12(const std::vector<uint8_t>& bgra, int w, int h) {
  Nv12Image image(w, h);
  ConvertCpu(bgra.data(), w * 4, image.y.data(), image.uv.data(), w, h);
  return image;
}

std::string Log() {
  return test::TestLog();
}

size_t Count(const std::string& text, const std::string& piece, size_t from = 0) {
  size_t n = 0;
  for (size_t at = text.find(piece, from); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

class MfEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    installid::SetEnableAsyncHwEncoders(false);
    logStart_ = Log().size();
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
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::string NewLog() { return Log().substr(logStart_); }

  // Every unit decodes to the CPU conversion of the frame it came from.
  void ExpectPicturesMatch(const std::vector<std::vector<uint8_t>>& inputs) {
    ASSERT_EQ(Units().size(), inputs.size());
    ExpectFirstPicturesMatch(inputs);
  }
  // The same for as many units as came out (a transform with frames in flight owes the rest).
  void ExpectFirstPicturesMatch(const std::vector<std::vector<uint8_t>>& inputs) {
    const std::vector<Unit> units = Units();
    ASSERT_LE(units.size(), inputs.size());
    test::IpcmH264Reader reader;
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

TEST_F(MfEncoderTest, SynchronousEncodingRoundTripsEveryPictureWithTheKeyframeRules) {
  TestTransformRegistration reg(Options(false, false, L"Sorvane Test SW"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder(3);
  EXPECT_EQ(encoder->Description(), "");
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  EXPECT_FALSE(encoder->IsAsync());
  EXPECT_EQ(encoder->Description(), "Sorvane Test SW [SW, 96x64 H.264 @ 30 fps, 15 Mbps]");
  std::vector<std::vector<uint8_t>> inputs;
  for (int i = 0; i < 6; ++i) {
    inputs.push_back(Picture(kW, kH, i));
    if (i == 5)
      encoder->RequestKeyframe();
    encoder->EncodeFrame(inputs.back().data(), kW, kH, kW * 4);
  }
  ExpectPicturesMatch(inputs);
  const std::vector<Unit> units = Units();
  EXPECT_TRUE(units[0].keyframe);
  EXPECT_TRUE(encoder->HasProducedKeyframe());
  EXPECT_EQ(units[1].timestampUs, 33333u);
  // Forced by the request after Configure, by the GOP after three frames without one, and by
  // the explicit request.
  const auto frames = reg.State().Frames();
  ASSERT_EQ(frames.size(), 6u);
  const std::vector<bool> forced = {true, false, false, false, true, true};
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].forced, forced[i]) << "frame " << i;
    EXPECT_EQ(frames[i].inputCleanPoint, forced[i]) << "frame " << i;
  }
  const GUID gop = {STATIC_CODECAPI_AVEncMPVGOPSize};
  const GUID lowLatency = {STATIC_CODECAPI_AVLowLatencyMode};
  const GUID mode = {STATIC_CODECAPI_AVEncCommonRateControlMode};
  const GUID mean = {STATIC_CODECAPI_AVEncCommonMeanBitRate};
  const GUID peak = {STATIC_CODECAPI_AVEncCommonMaxBitRate};
  const GUID quality = {STATIC_CODECAPI_AVEncCommonQuality};
  EXPECT_EQ(reg.State().Property(gop), 3u);
  EXPECT_EQ(reg.State().Property(lowLatency), 1u);
  EXPECT_EQ(reg.State().Property(mode), 0u);
  EXPECT_EQ(reg.State().Property(mean), 15'000'000u);
  EXPECT_EQ(reg.State().Property(peak), 19'500'000u);
  EXPECT_EQ(reg.State().Property(quality), 75u);
  EXPECT_EQ(reg.State().Types().profile, 100u);

  // Live: the bitrate without reopening; the rate-control mode by reopening.
  encoder->SetBitrate(8'000'000);
  EXPECT_EQ(reg.State().Property(mean), 8'000'000u);
  const int created = reg.State().InstancesCreated();
  encoder->SetRateControl(RateControlMode::VBR, 0.5f);
  EXPECT_TRUE(encoder->IsConfigured());
  EXPECT_EQ(reg.State().InstancesCreated(), created + 1);
  EXPECT_EQ(reg.State().Property(mode), 1u);
  encoder->SetPeakBitrate(5'000'000);  // below the mean: the mean is the floor
  EXPECT_EQ(reg.State().Property(peak), 8'000'000u);
  EXPECT_NE(NewLog().find("SetPeakBitrate: max=8000000 bps (mean=8000000, ratio=1.00)"),
            std::string::npos);
  encoder->Shutdown();
  EXPECT_EQ(reg.State().LiveInstances(), 0);
}

TEST_F(MfEncoderTest, OddSizesAndOtherFrameSizesReachTheTransformAsEvenPictures) {
  TestTransformRegistration reg(Options(false, false, L"Sorvane Test SW odd"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder();
  ASSERT_TRUE(encoder->Configure(kW + 1, kH + 1, 0, 30));
  EXPECT_EQ(reg.State().Types().width, kW);
  EXPECT_EQ(reg.State().Types().height, kH);
  const std::vector<uint8_t> odd = Picture(kW + 1, kH + 1, 3);
  encoder->EncodeFrame(odd.data(), kW + 1, kH + 1, (kW + 1) * 4);
  const std::vector<uint8_t> small = Picture(kW / 2, kH / 2, 4);
  encoder->EncodeFrame(small.data(), kW / 2, kH / 2, kW * 2);
  EXPECT_EQ(Units().size(), 2u);
  EXPECT_EQ(reg.State().ShortInputs(), 0);
  // The configured size is used in place, its odd last row and column left out.
  const auto first =
      test::IpcmH264Reader().DecodeAccessUnit(Units()[0].data.data(), Units()[0].data.size());
  ASSERT_TRUE(first.has_value());
  Nv12Image expected(kW, kH);
  ConvertCpu(odd.data(), (kW + 1) * 4, expected.y.data(), expected.uv.data(), kW, kH);
  EXPECT_TRUE(*first == expected);
}

TEST_F(MfEncoderTest, CandidatesInOrderWithTheAsynchronousSwitchAndEveryRefusalFallingThrough) {
  TestTransformRegistration hwSync(Options(false, true, L"Sorvane Test HW sync"));
  TestTransformRegistration hwAsync(Options(true, true, L"Sorvane Test HW async"));
  TestTransformRegistration software(Options(false, false, L"Sorvane Test SW fallback"));
  ASSERT_TRUE(hwSync.Ok() && hwAsync.Ok() && software.Ok());
  auto encoder = Encoder();
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  EXPECT_EQ(encoder->Description().rfind("Sorvane Test HW sync [HW, ", 0), 0u)
      << encoder->Description();

  test::TransformFailures refuseOutput;
  refuseOutput.setOutputType = E_INVALIDARG;
  hwSync.SetFailures(refuseOutput);
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  EXPECT_EQ(encoder->Description().rfind("Sorvane Test SW fallback [SW, ", 0), 0u);
  std::string log = NewLog();
  EXPECT_NE(log.find("[HW-sync] SetOutputType rejected E_INVALIDARG (0x80070057) — skipping"),
            std::string::npos);
  EXPECT_NE(log.find("async MFT — skipping (Setup → \"Use NVIDIA/Intel HW HEVC encoders\" is OFF)"),
            std::string::npos);

  installid::SetEnableAsyncHwEncoders(true);
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  EXPECT_TRUE(encoder->IsAsync());
  EXPECT_EQ(encoder->Description().rfind("Sorvane Test HW async [HW-async, ", 0), 0u);
  EXPECT_NE(NewLog().find("Configure OK (async): 96x64"), std::string::npos);

  // Each failing step of the asynchronous candidate falls through to the software transform.
  const std::vector<std::pair<const char*, test::TransformFailures>> steps = [] {
    std::vector<std::pair<const char*, test::TransformFailures>> s(4);
    // Without its attributes it cannot be recognised as asynchronous: where it is listed as such
    // it is skipped, and where it is not (Wine lists it among the synchronous ones too), still
    // locked, it refuses its types.
    s[0] = {"async-MFT GetAttributes failed|SetOutputType rejected MF_E_TRANSFORM_ASYNC_LOCKED",
            {}};
    s[0].second.getAttributes = E_FAIL;
    s[1] = {"ASYNC_UNLOCK failed", {}};
    s[1].second.asyncUnlock = E_ACCESSDENIED;
    s[2] = {"SetInputType rejected", {}};
    s[2].second.setInputType = MF_E_INVALIDMEDIATYPE;
    s[3] = {"async: MFT does not expose IMFMediaEventGenerator", {}};
    s[3].second.eventGenerator = E_NOINTERFACE;
    return s;
  }();
  for (const auto& [line, failures] : steps) {
    hwAsync.SetFailures(failures);
    logStart_ = Log().size();
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30)) << line;
    EXPECT_FALSE(encoder->IsAsync()) << line;
    EXPECT_EQ(encoder->Description().rfind("Sorvane Test SW fallback", 0), 0u) << line;
    const std::string text = line, log = NewLog();
    const size_t bar = text.find('|');
    const bool found = bar == std::string::npos
                           ? log.find(text) != std::string::npos
                           : log.find(text.substr(0, bar)) != std::string::npos ||
                                 log.find(text.substr(bar + 1)) != std::string::npos;
    EXPECT_TRUE(found) << line << "\n" << log;
  }
  encoder->Shutdown();
  EXPECT_EQ(hwAsync.State().LiveInstances(), 0);
  EXPECT_EQ(hwAsync.State().ShutdownCalls(), hwAsync.State().InstancesCreated());
}

TEST_F(MfEncoderTest, AsynchronousEncodingRoundTripsAndCloneIsIndependent) {
  installid::SetEnableAsyncHwEncoders(true);
  TestTransformRegistration reg(Options(true, true, L"Sorvane Test HW async only"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder();
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  ASSERT_TRUE(encoder->IsAsync());
  // Wine's synchronous hardware round lists it too: the log names what the transform says it is.
  const std::string log = NewLog();
  EXPECT_NE(log.find("trying HW-async MFT: \"Sorvane Test HW async only\""), std::string::npos);
  EXPECT_NE(log.find("-> using HW-async \"Sorvane Test HW async only\""), std::string::npos);
  EXPECT_EQ(log.find("HW-sync MFT: \"Sorvane Test HW async only\""), std::string::npos);
  std::vector<std::vector<uint8_t>> inputs;
  for (int i = 0; i < 5; ++i) {
    inputs.push_back(Picture(kW, kH, i + 10));
    encoder->EncodeFrame(inputs.back().data(), kW, kH, kW * 4);
    ASSERT_TRUE(WaitForUnits(inputs.size())) << "frame " << i;
  }
  ExpectPicturesMatch(inputs);
  EXPECT_EQ(Units()[2].timestampUs, 66666u);

  EncoderSettings settings;
  settings.width = 64;
  settings.height = 48;
  settings.codec = Codec::H264;
  settings.gopFrames = 0;
  settings.frameCap = 0;
  auto clone = encoder->Clone(settings);
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->GopSize(), 1);
  EXPECT_EQ(clone->FrameCap(), kDefaultFrameCap);
  EXPECT_EQ(clone->Width(), 64);
  EXPECT_EQ(encoder->Width(), kW);
  EXPECT_EQ(reg.State().LiveInstances(), 2);
  clone.reset();
  EXPECT_EQ(reg.State().LiveInstances(), 1);
  encoder->EncodeFrame(inputs[0].data(), kW, kH, kW * 4);
  EXPECT_TRUE(WaitForUnits(6)) << "the original keeps encoding";
  encoder.reset();
  EXPECT_EQ(reg.State().LiveInstances(), 0);
  EXPECT_EQ(reg.State().ShutdownCalls(), reg.State().InstancesCreated());
}

// Lost frames and odd events cost one frame each; the event loop and the time line go on.
TEST_F(MfEncoderTest, InputOutputAndEventFailuresLoseAFrameAndEncodingGoesOn) {
  auto encoder = Encoder();
  const std::vector<uint8_t> frame = Picture(kW, kH, 5);
  {
    TestTransformRegistration sync(Options(false, false, L"Sorvane Test SW failing"));
    ASSERT_TRUE(sync.Ok()) << sync.Error();
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
    test::TransformFailures refuseInput;
    refuseInput.processInput = E_FAIL;
    sync.SetFailures(refuseInput);
    encoder->EncodeFrame(frame.data(), kW, kH, kW * 4);
    sync.SetFailures({});
    encoder->EncodeFrame(frame.data(), kW, kH, kW * 4);
    ASSERT_EQ(Units().size(), 1u);
    EXPECT_EQ(Units()[0].timestampUs, 0u) << "a lost frame does not advance the time line";
    EXPECT_NE(NewLog().find("ProcessInput failed 0x80004005"), std::string::npos);
    encoder->Shutdown();
  }

  installid::SetEnableAsyncHwEncoders(true);
  TestTransformOptions options = Options(true, true, L"Sorvane Test HW async failing");
  options.failures.errorEvents = true;
  options.failures.streamChangeOnFirstOutput = true;
  TestTransformRegistration async(options);
  ASSERT_TRUE(async.Ok()) << async.Error();
  {
    std::lock_guard<std::mutex> lock(unitsLock_);
    units_.clear();
  }
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  ASSERT_TRUE(encoder->IsAsync());
  std::vector<std::vector<uint8_t>> inputs;
  for (int i = 0; i < 3; ++i) {
    inputs.push_back(Picture(kW, kH, 30 + i));
    encoder->EncodeFrame(inputs.back().data(), kW, kH, kW * 4);
    ASSERT_TRUE(WaitForUnits(inputs.size())) << "frame " << i;
  }
  ExpectPicturesMatch(inputs);  // the stream change kept the parameter sets

  test::TransformFailures noOutput;
  noOutput.processOutput = MF_E_TRANSFORM_NEED_MORE_INPUT;
  async.SetFailures(noOutput);
  logStart_ = Log().size();
  encoder->EncodeFrame(frame.data(), kW, kH, kW * 4);
  for (int i = 0; i < 300 && NewLog().find("async: ProcessOutput failed") == std::string::npos; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_NE(
      NewLog().find("async: ProcessOutput failed MF_E_TRANSFORM_NEED_MORE_INPUT (0xc00d6d72)"),
      std::string::npos);
  encoder->Shutdown();
  EXPECT_EQ(async.State().LiveInstances(), 0);
}

TEST_F(MfEncoderTest, HundredReconfiguresAndHundredFailedAsyncCandidatesLeaveNothingBehind) {
  installid::SetEnableAsyncHwEncoders(true);
  TestTransformRegistration async(Options(true, true, L"Sorvane Test HW async cycles"));
  TestTransformRegistration software(Options(false, false, L"Sorvane Test SW cycles"));
  ASSERT_TRUE(async.Ok() && software.Ok());
  auto encoder = Encoder();
  const std::vector<uint8_t> frame = Picture(kW, kH, 1);
  for (int i = 0; i < 100; ++i) {
    encoder->SetGopSize(i % 2 == 0 ? 30 : 60);  // reopens
    if (i == 0) {
      ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
    }
    ASSERT_TRUE(encoder->IsAsync()) << i;
    encoder->EncodeFrame(frame.data(), kW, kH, kW * 4);
  }
  test::TransformFailures noEvents;
  noEvents.beginGetEvent = E_FAIL;
  async.SetFailures(noEvents);
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30)) << i;
    EXPECT_FALSE(encoder->IsAsync());
  }
  encoder->Shutdown();
  EXPECT_EQ(async.State().LiveInstances(), 0);
  EXPECT_EQ(software.State().LiveInstances(), 0);
  EXPECT_GE(async.State().InstancesCreated(), 200);
  EXPECT_EQ(async.State().ShutdownCalls(), async.State().InstancesCreated());
}

TEST_F(MfEncoderTest, TeardownWhileAsynchronousOutputIsInFlightDoesNotHang) {
  installid::SetEnableAsyncHwEncoders(true);
  TestTransformOptions options = Options(true, true, L"Sorvane Test HW async slow");
  options.eventDelayMs = 5;
  options.processOutputDelayMs = 3;
  options.initialInputRequests = 2;
  TestTransformRegistration reg(options);
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto run = std::async(std::launch::async, [this] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::vector<uint8_t> frame = Picture(kW, kH, 2);
    for (int round = 0; round < 20; ++round) {
      auto encoder = Encoder();
      if (!encoder->Configure(kW, kH, 0, 30))
        return false;
      for (int i = 0; i < 4; ++i)
        encoder->EncodeFrame(frame.data(), kW, kH, kW * 4);
      std::this_thread::sleep_for(std::chrono::milliseconds(round % 7));
      if (round % 2 == 0)
        encoder->Shutdown();
    }
    CoUninitialize();
    return true;
  });
  ASSERT_EQ(run.wait_for(60s), std::future_status::ready) << "teardown hung";
  EXPECT_TRUE(run.get());
  EXPECT_EQ(reg.State().LiveInstances(), 0);
  EXPECT_EQ(reg.State().ShutdownCalls(), reg.State().InstancesCreated());
}

// A GPU converter whose pictures are the CPU's, or the CPU's with one byte off, as a driver that
// gets the shader wrong would give.
class CpuAsGpu final : public GpuNv12Converter {
 public:
  CpuAsGpu(std::atomic<int>& calls, std::optional<size_t> wrongByte)
      : calls_(calls), wrongByte_(wrongByte) {}
  void Attach(const EncoderDevice*) override {}
  bool Convert(const uint8_t* src, int stride, uint8_t* y, uint8_t* uv, int w, int h) override {
    ++calls_;
    ConvertCpu(src, stride, y, uv, w, h);
    if (wrongByte_)
      y[*wrongByte_] ^= 0x40;
    return true;
  }
  void Release() override {}

 private:
  std::atomic<int>& calls_;
  const std::optional<size_t> wrongByte_;
};

// The first GPU picture after each Configure is compared with the CPU's; a wrong one is not
// sent, and the CPU converts for the rest of the encoder's life.
TEST_F(MfEncoderTest, TheFirstGpuPictureIsCheckedAgainstTheCpuAndAWrongGpuIsDroppedForGood) {
  TestTransformRegistration reg(Options(false, false, L"Sorvane Test SW gpu check"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  std::vector<std::vector<uint8_t>> inputs;
  for (int i = 0; i < 3; ++i)
    inputs.push_back(Picture(kW, kH, i + 20));
  std::atomic<int> calls{0};
  {
    auto exact = Encoder(1, std::make_unique<CpuAsGpu>(calls, std::nullopt));
    ASSERT_TRUE(exact->Configure(kW, kH, 0, 30));
    for (const auto& input : inputs)
      exact->EncodeFrame(input.data(), kW, kH, kW * 4);
    EXPECT_EQ(exact->GpuConversions(), 3u);
    EXPECT_EQ(NewLog().find("GPU NV12 self-check"), std::string::npos);
  }
  ExpectPicturesMatch(inputs);

  units_.clear();
  calls = 0;
  auto wrong = Encoder(1, std::make_unique<CpuAsGpu>(calls, size_t{100}));
  ASSERT_TRUE(wrong->Configure(kW, kH, 0, 30));
  for (const auto& input : inputs)
    wrong->EncodeFrame(input.data(), kW, kH, kW * 4);
  ExpectPicturesMatch(inputs);
  EXPECT_EQ(wrong->GpuConversions(), 0u);
  EXPECT_EQ(calls.load(), 1) << "tried once";
  const std::string line = "GPU NV12 self-check: byte 100 of 9216 differs (GPU ";
  EXPECT_EQ(Count(NewLog(), line), 1u);
  ASSERT_TRUE(wrong->Configure(kW, kH, 0, 30));
  wrong->EncodeFrame(inputs[0].data(), kW, kH, kW * 4);
  EXPECT_EQ(calls.load(), 1) << "not after a new Configure either";
  EXPECT_EQ(Count(NewLog(), line), 1u);
}

std::atomic<int> gCompiles{0};

HRESULT WINAPI RefusingCompiler(const void*, SIZE_T, const char*, const D3D_SHADER_MACRO*,
                                ID3DInclude*, const char*, const char*, UINT, UINT, ID3DBlob** code,
                                ID3DBlob** errors) {
  ++gCompiles;
  if (code != nullptr)
    *code = nullptr;
  if (errors != nullptr)
    *errors = nullptr;
  return E_FAIL;
}

// The shader is compiled once for the process however often encoders reopen; a compiler that
// refuses it leaves the conversion to the CPU, said once per configuration, pictures exact.
TEST_F(MfEncoderTest, TheShaderIsCompiledOncePerProcessAndARefusalFallsBackEachConfiguration) {
  SetShaderCompilerForTesting(&RefusingCompiler);
  gCompiles = 0;
  TestTransformRegistration reg(Options(false, false, L"Sorvane Test SW gpu"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder();
  std::vector<std::vector<uint8_t>> inputs;
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
    ASSERT_NE(NewLog().find("D3D11 device on adapter"), std::string::npos)
        << "the tests run with a display, where Direct3D 11 has a device";
    inputs.push_back(Picture(kW, kH, round + 30));
    encoder->EncodeFrame(inputs.back().data(), kW, kH, kW * 4);
  }
  SetShaderCompilerForTesting(nullptr);
  ExpectPicturesMatch(inputs);
  EXPECT_EQ(gCompiles.load(), 1);
  const std::string log = NewLog();
  EXPECT_EQ(Count(log, "GPU NV12: D3DCompile failed 0x80004005 (no msg)"), 1u);
  EXPECT_EQ(Count(log, "Step 4 GPU FALLBACK to scalar at frame 0"), 3u);
  EXPECT_EQ(encoder->GpuConversions(), 0u);
}

// A transform that keeps its input samples reads each picture when it encodes it, frames
// later: an input sample refilled meanwhile would put a later picture in an earlier frame.
TEST_F(MfEncoderTest, ATransformThatKeepsItsInputGetsEveryPictureAsItWas) {
  for (const bool copies : {false, true}) {
    SCOPED_TRACE(copies ? "copies its input" : "keeps its input");
    TestTransformOptions options = test::RealisticOptions(
        Options(false, false, copies ? L"Sorvane Test SW copies" : L"Sorvane Test SW keeps"), 2);
    options.doesNotAddRef = copies;
    TestTransformRegistration reg(options);
    ASSERT_TRUE(reg.Ok()) << reg.Error();
    units_.clear();
    auto encoder = Encoder();
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 6; ++i) {
      inputs.push_back(Picture(kW, kH, i + 40));
      encoder->EncodeFrame(inputs.back().data(), kW, kH, kW * 4);
    }
    EXPECT_EQ(Units().size(), 4u) << "two frames in flight";
    ExpectFirstPicturesMatch(inputs);
  }
}

const GUID kGop = {STATIC_CODECAPI_AVEncMPVGOPSize};
const GUID kLowLatency = {STATIC_CODECAPI_AVLowLatencyMode};
const GUID kRateMode = {STATIC_CODECAPI_AVEncCommonRateControlMode};
const GUID kBPictures = {STATIC_CODECAPI_AVEncMPVDefaultBPictureCount};

// Vendor encoders read rate control, GOP, B pictures and low latency only when the types are
// set: they are given before, and a property a transform refuses is said once per Configure.
TEST_F(MfEncoderTest, StaticPropertiesComeBeforeTheTypesAndEachRefusalIsSaidOnce) {
  TestTransformRegistration reg(
      test::RealisticOptions(Options(false, false, L"Sorvane Test SW static"), 0));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder(30);
  encoder->SetRateControl(RateControlMode::Quality, 0.5f);
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  EXPECT_EQ(reg.State().Accepted(kGop), 30u);
  EXPECT_EQ(reg.State().Accepted(kRateMode), 3u);
  EXPECT_EQ(reg.State().Accepted(kLowLatency), 1u);
  EXPECT_EQ(reg.State().Accepted(kBPictures), 0u);
  EXPECT_EQ(NewLog().find("codec property"), std::string::npos)
      << "the repeat after the types is refused, but they were taken before";

  test::TransformFailures refuseAll;
  refuseAll.codecApiSetValue = E_INVALIDARG;
  reg.SetFailures(refuseAll);
  for (int configure = 0; configure < 2; ++configure) {
    logStart_ = Log().size();
    ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
    const std::string log = NewLog();
    for (const char* name :
         {"AVLowLatencyMode", "AVEncCommonRealTime", "AVEncCommonRateControlMode",
          "AVEncCommonMeanBitRate", "AVEncCommonMaxBitRate", "AVEncCommonQuality",
          "AVEncMPVGOPSize", "AVEncMPVDefaultBPictureCount"}) {
      EXPECT_EQ(Count(log, std::string("codec property CODECAPI_") + name +
                               " rejected E_INVALIDARG (0x80070057)"),
                1u)
          << name;
    }
  }
}

// The coarsest quantiser for the emergency frames only, as the typed value encoders take, and
// the one the encoder had afterwards; where the rate control takes none, that is said once.
TEST_F(MfEncoderTest, EmergencyCompressionQuantisesItsFramesOnlyAndSaysOnceWhereItCannot) {
  TestTransformRegistration reg(
      test::RealisticOptions(Options(false, false, L"Sorvane Test SW quantiser"), 0));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto encoder = Encoder();
  encoder->SetRateControl(RateControlMode::Quality, 0.5f);
  ASSERT_TRUE(encoder->Configure(kW, kH, 0, 30));
  const std::vector<uint8_t> picture = Picture(kW, kH, 50);
  encoder->EncodeFrame(picture.data(), kW, kH, kW * 4);
  encoder->CompressEmergency(2);
  for (int i = 0; i < 3; ++i)
    encoder->EncodeFrame(picture.data(), kW, kH, kW * 4);
  std::vector<std::optional<uint32_t>> qps;
  for (const test::FrameRecord& frame : reg.State().Frames())
    qps.push_back(frame.qp);
  EXPECT_EQ(qps, (std::vector<std::optional<uint32_t>>{26u, 51u, 51u, 26u}));
  EXPECT_TRUE(reg.State().Frames()[1].forced) << "and a keyframe";

  encoder->SetRateControl(RateControlMode::Bitrate, 0.5f);
  reg.State().Reset();
  logStart_ = Log().size();
  encoder->CompressEmergency(3);
  for (int i = 0; i < 3; ++i)
    encoder->EncodeFrame(picture.data(), kW, kH, kW * 4);
  for (const test::FrameRecord& frame : reg.State().Frames())
    EXPECT_EQ(frame.qp, 26u);
  EXPECT_EQ(Count(NewLog(),
                  "emergency compression: the encoder takes no per-frame quantiser "
                  "here (0xc00d36b2)"),
            1u);
}

// A lost device fails every frame until the encoder is made again: the pipeline reopens it at
// once, so the picture is back with the next frame and the failure is said once.
TEST_F(MfEncoderTest, AnEncoderThatLosesItsDeviceIsReopenedAtOnce) {
  for (const bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous" : "synchronous");
    installid::SetEnableAsyncHwEncoders(async);
    TestTransformOptions options = test::RealisticOptions(
        Options(async, true, async ? L"Sorvane Test HW async lost" : L"Sorvane Test HW lost"), 0);
    options.loseDeviceAtFrame = 5;
    TestTransformRegistration reg(options);
    ASSERT_TRUE(reg.Ok()) << reg.Error();
    units_.clear();
    logStart_ = Log().size();
    auto pipeline = Pipeline();
    ASSERT_TRUE(pipeline->Configure(kW, kH, 0, 30));
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 0; i < 12; ++i) {
      inputs.push_back(Picture(kW, kH, i + 60));
      const size_t before = Units().size();
      pipeline->Encode(inputs.back().data(), kW, kH, kW * 4);
      WaitForUnits(before + 1, 100);  // at the pace of a host: the lost frame gives none
    }
    EXPECT_GE(Units().size(), 10u) << "the picture comes back at once after the loss";
    test::IpcmH264Reader reader;
    const Unit last = Units().back();
    const auto picture = reader.DecodeAccessUnit(last.data.data(), last.data.size());
    ASSERT_TRUE(picture.has_value()) << reader.Error();
    EXPECT_TRUE(*picture == CpuNv12(inputs.back(), kW, kH)) << "up to the last frame";
    const std::string log = NewLog();
    EXPECT_EQ(Count(log, "encoder: the device was lost (0x887a0005) — asking for a reopen"), 1u);
    EXPECT_EQ(Count(log, "current encoder can no longer encode — reopening 96x64 @ 30 fps"), 1u);
    EXPECT_LE(Count(log, "ProcessInput") + Count(log, "MEError"), 3u) << log;
    pipeline->Shutdown();
    EXPECT_EQ(reg.State().LiveInstances(), 0);
  }
}

// An asynchronous transform whose event loop cannot be armed again would sit there, fed and
// silent: that is said, and the encoder reopened. Error events are told whenever they come.
TEST_F(MfEncoderTest, AnEventLoopThatCannotReArmIsReopenedAndErrorEventsAreAlwaysTold) {
  installid::SetEnableAsyncHwEncoders(true);
  TestTransformRegistration reg(Options(true, true, L"Sorvane Test HW async re-arm"));
  ASSERT_TRUE(reg.Ok()) << reg.Error();
  auto pipeline = Pipeline();
  ASSERT_TRUE(pipeline->Configure(kW, kH, 0, 30));
  const std::vector<uint8_t> picture = Picture(kW, kH, 70);
  size_t expected = 0;
  for (int i = 0; i < 20; ++i) {  // well past the events whose names are logged
    pipeline->Encode(picture.data(), kW, kH, kW * 4);
    ASSERT_TRUE(WaitForUnits(++expected)) << i;
  }
  test::TransformFailures failures;
  failures.errorEvents = true;
  failures.errorEventStatus = E_UNEXPECTED;
  reg.SetFailures(failures);
  pipeline->Encode(picture.data(), kW, kH, kW * 4);
  ASSERT_TRUE(WaitForUnits(++expected));
  EXPECT_EQ(Count(NewLog(), "async: MEError 0x8000ffff"), 1u);

  failures = {};
  failures.failBeginGetEventAfter = 0;  // every re-arm from now on
  reg.SetFailures(failures);
  pipeline->Encode(picture.data(), kW, kH, kW * 4);
  for (int i = 0; i < 500 && NewLog().find("event loop stopped") == std::string::npos; ++i)
    std::this_thread::sleep_for(10ms);
  reg.SetFailures({});
  const size_t before = Units().size();
  for (int i = 0; i < 3; ++i)
    pipeline->Encode(picture.data(), kW, kH, kW * 4);
  EXPECT_TRUE(WaitForUnits(before + 2)) << "encoding goes on after the reopen";
  const std::string log = NewLog();
  EXPECT_EQ(Count(log, "async: BeginGetEvent (re-arm) failed E_FAIL (0x80004005)"), 1u);
  EXPECT_EQ(Count(log, "encoder: the transform's event loop stopped — asking for a reopen"), 1u);
  EXPECT_EQ(Count(log, "current encoder can no longer encode — reopening"), 1u);
  pipeline->Shutdown();
}

// A copy of a hardware encoder that finds the hardware's one session taken opens in software;
// it must not replace the hardware encoder, which is reconfigured in place instead.
TEST_F(MfEncoderTest, ACopyThatFindsTheHardwareBusyIsRefusedForAnInPlaceReconfigure) {
  TestTransformOptions limited = Options(false, true, L"Sorvane Test HW one session");
  limited.sessionLimit = true;
  TestTransformRegistration hardware(limited);
  TestTransformRegistration software(Options(false, false, L"Sorvane Test SW spare"));
  ASSERT_TRUE(hardware.Ok() && software.Ok());
  auto pipeline = Pipeline();
  ASSERT_TRUE(pipeline->Configure(kW, kH, 0, 30));
  ASSERT_EQ(pipeline->Description().rfind("Sorvane Test HW one session [HW, ", 0), 0u);
  EncoderSettings smaller;
  smaller.width = 64;
  smaller.height = 48;
  smaller.codec = Codec::H264;
  pipeline->Reconfigure(smaller);
  const std::vector<uint8_t> picture = Picture(kW, kH, 80);
  bool resized = false;
  for (int i = 0; i < 500 && !resized; ++i) {
    pipeline->Encode(picture.data(), kW, kH, kW * 4);
    resized = pipeline->Width() == 64 && pipeline->TargetWidth() == 64;
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(resized);
  EXPECT_EQ(pipeline->Description().rfind("Sorvane Test HW one session [HW, 64x48", 0), 0u)
      << pipeline->Description();
  EXPECT_EQ(Count(NewLog(),
                  "seamless switch: the copy opened in software where the stream "
                  "runs in hardware — rejected"),
            1u);
  pipeline->Shutdown();
  EXPECT_EQ(software.State().LiveInstances(), 0);
  EXPECT_EQ(hardware.State().LiveInstances(), 0);
}

}  // namespace
}  // namespace Sorvane
