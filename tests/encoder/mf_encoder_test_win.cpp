// The Media Foundation encoder against the test transform: candidate order and the asynchronous
// switch, fall-through on every refusal, the codec properties, pictures read back exactly from
// the I_PCM output, keyframe rules, that no transform outlives its encoder, and the GPU
// conversion's checks.
#include <gtest/gtest.h>

#include <objbase.h>

#include <codecapi.h>
#include <mferror.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "encoder/d3d11_nv12_converter_win.h"
#include "encoder/mf_encoder_fixture_win.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using test::Count;
using test::CpuNv12;
using test::GlobalTransformCounters;
using test::kH;
using test::kW;
using test::MfEncoderTest;
using test::Nv12Image;
using test::Picture;
using test::TestTransformOptions;
using test::TestTransformRegistration;
using test::Unit;

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
    logStart_ = test::TestLog().size();
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
  logStart_ = test::TestLog().size();
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

}  // namespace
}  // namespace Sorvane
