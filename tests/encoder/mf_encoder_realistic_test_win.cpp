// The Media Foundation encoder against the test transform behaving as vendor encoders do: frames
// in flight with their input samples kept, properties that count only before the types, a typed
// quantiser, one hardware session, a device that goes away, an event loop that stops.
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
    logStart_ = test::TestLog().size();
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
  logStart_ = test::TestLog().size();
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
    logStart_ = test::TestLog().size();
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
