#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "diag/log.h"
#include "host/transmit_entry.h"
#include "pipeline/fake_encoder.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "sv-host/host_suites.h"

namespace Sorvane {
namespace {

using namespace sdk;
using hostsim::HostSuites;

using test::TestLog;

class TransmitEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEncoderFactoryForTesting([](const std::string&) {
      return std::make_shared<test::FakeEncoder>(std::make_shared<test::FakeEncoderWorld>());
    });
    HostSuites::Instance().SetTicksPerSecond(HostSuites::kTicksPerSecond);
    ASSERT_EQ(TransmitEntry(tmInterfaceVersion4, 1, HostSuites::Instance().PiSuites(), &module_),
              tmResult_Success);
    std_.piSuites = HostSuites::Instance().PiSuites();
    record_.inAudioSampleRate = 48000.0f;
    record_.inNumChannels = 2;
    record_.inVideoFrameRate = HostSuites::kTicksPerSecond / 30;
  }
  void TearDown() override {
    if (record_.ioPrivateInstanceData)
      module_.DisposeInstance(&std_, &record_);
    SetEncoderFactoryForTesting(nullptr);
  }
  TransmitInstance* Instance() {
    return static_cast<TransmitInstance*>(record_.ioPrivateInstanceData);
  }

  tmModule module_{};
  tmStdParms std_{};
  tmInstance record_{};
};

TEST_F(TransmitEntryTest, UnloadDoesNothingAndLoadFillsEveryEntry) {
  tmModule untouched{};
  EXPECT_EQ(TransmitEntry(tmInterfaceVersion4, 0, nullptr, &untouched), tmResult_Success);
  EXPECT_EQ(untouched.Startup, nullptr);
  const auto* slots = reinterpret_cast<void* const*>(&module_);
  for (size_t i = 0; i < sizeof(tmModule) / sizeof(void*); ++i)
    EXPECT_NE(slots[i], nullptr) << i;
}

// tmPluginInfo is byte-packed, so its fields sit at odd offsets: the checks read them by value,
// never through a reference or a pointer to the field.
template <typename T>
T Field(T value) {
  return value;
}

TEST_F(TransmitEntryTest, StartupFillsThePluginInfo) {
  tmPluginInfo info{};
  std::memset(&info, 0x5A, sizeof info);
  ASSERT_EQ(module_.Startup(&std_, &info), tmResult_Success);
  const char16_t expected[] = u"Sorvane";
  prUTF16Char name[8];
  std::memcpy(name, info.outDisplayName, sizeof name);
  for (size_t i = 0; i < 8; ++i)
    EXPECT_EQ(name[i], expected[i]) << i;
  EXPECT_EQ(Field(info.outAudioAvailable), 1);
  EXPECT_EQ(Field(info.outAudioDefaultEnabled), 1);
  EXPECT_EQ(Field(info.outVideoAvailable), 1);
  EXPECT_EQ(Field(info.outVideoDefaultEnabled), 1);
  EXPECT_EQ(Field(info.outHideInUI), 0);
  EXPECT_EQ(Field(info.outHasSetup), 1);
  EXPECT_EQ(Field(info.outInterfaceVersion), 4);
  EXPECT_EQ(Field(info.outPushAudioAvailable), 1);
  EXPECT_EQ(Field(info.outHasStreaming), 1);
  EXPECT_EQ(Field(info.outClockAvailable), 0x5A5A5A5A) << "left as the host gave it";
  EXPECT_EQ(Field(info.outPriority), 0x5A5A5A5Au);
  EXPECT_EQ(info.outIdentifier[0], 0x5A);
}

// A version-3 host allocates 12 entries and a 585-byte info record: nothing past them is written.
TEST_F(TransmitEntryTest, OlderHostsGetNothingBeyondTheirRecords) {
  unsigned char table[sizeof(tmModule)];
  std::memset(table, 0xEE, sizeof table);
  auto* module = reinterpret_cast<tmModule*>(table);
  ASSERT_EQ(TransmitEntry(tmInterfaceVersion3, 1, nullptr, module), tmResult_Success);
  for (size_t i = kTmModuleVersion3Entries * sizeof(void*); i < sizeof table; ++i) {
    ASSERT_EQ(table[i], 0xEE) << "byte " << i;
  }
  unsigned char info[sizeof(tmPluginInfo)];
  std::memset(info, 0xEE, sizeof info);
  ASSERT_EQ(module->Startup(&std_, reinterpret_cast<tmPluginInfo*>(info)), tmResult_Success);
  for (size_t i = offsetof(tmPluginInfo, outPushAudioAvailable); i < sizeof info; ++i) {
    ASSERT_EQ(info[i], 0xEE) << "byte " << i;
  }
  EXPECT_EQ(Field(reinterpret_cast<tmPluginInfo*>(info)->outInterfaceVersion), 3);
}

TEST_F(TransmitEntryTest, QueryVideoModeAnswersOneModeWithTwoFramesOfLatency) {
  tmVideoMode mode{};
  std::memset(&mode, 0x11, sizeof mode);
  ASSERT_EQ(module_.QueryVideoMode(&std_, &record_, 0, &mode), tmResult_Success);
  EXPECT_EQ(mode.outWidth, 0);
  EXPECT_EQ(mode.outHeight, 0);
  EXPECT_EQ(mode.outPARNum, 0);
  EXPECT_EQ(mode.outPARDen, 0);
  EXPECT_EQ(mode.outFieldType, 4);
  EXPECT_EQ(mode.outPixelFormat, 0x61726762u);
  EXPECT_EQ(mode.outLatency, 2 * record_.inVideoFrameRate);
  EXPECT_EQ(mode.outStreamLabel.opaque[0], 0x1111111111111111) << "not touched";

  tmVideoMode second{};
  std::memset(&second, 0x22, sizeof second);
  EXPECT_EQ(module_.QueryVideoMode(&std_, &record_, 1, &second), -4);
  EXPECT_EQ(second.outWidth, 0x22222222) << "index 1 leaves the record untouched";

  record_.inVideoFrameRate = 0;
  ASSERT_EQ(module_.QueryVideoMode(&std_, &record_, 0, &mode), tmResult_Success);
  EXPECT_EQ(mode.outLatency, 0);
}

TEST_F(TransmitEntryTest, SimpleEntriesWriteTheirOutputs) {
  prBool flag = 7;
  EXPECT_EQ(module_.NeedsReset(&std_, &flag), tmResult_Success);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(module_.NeedsReset(&std_, nullptr), tmResult_Success);
  csSDK_uint32 samples = 0;
  EXPECT_EQ(module_.StartPushAudio(&std_, &record_, 0, 1.0f, 0, 0, 0, 0, &samples), 0);
  EXPECT_EQ(samples, 1024u);
  flag = 0;
  EXPECT_EQ(module_.IsStreamingEnabled(&std_, &flag), 0);
  EXPECT_EQ(flag, 1);
  flag = 0;
  EXPECT_EQ(module_.IsStreamingActive(&std_, &flag), 0);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(module_.IsStreamingActive(&std_, nullptr), 0);
}

TEST_F(TransmitEntryTest, LifecycleStartsStopsAndDisposes) {
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  ASSERT_NE(Instance(), nullptr);
  EXPECT_TRUE(Instance()->IsActive()) << "creation starts the instance";
  EXPECT_EQ(Instance()->Fps(), 30);
  EXPECT_EQ(Instance()->AudioSampleRate(), 48000u);

  EXPECT_EQ(module_.ActivateDeactivate(&std_, &record_, PrActivationEvent_Unspecified, 0, 0), 0);
  EXPECT_FALSE(Instance()->IsActive());
  EXPECT_EQ(module_.ActivateDeactivate(&std_, &record_, PrActivationEvent_Unspecified, 0, 1), 0);
  EXPECT_TRUE(Instance()->IsActive());
  module_.ActivateDeactivate(&std_, &record_, PrActivationEvent_Unspecified, 0, 0);
  EXPECT_EQ(module_.ActivateDeactivate(&std_, &record_, PrActivationEvent_Unspecified, 1, 0), 0);
  EXPECT_TRUE(Instance()->IsActive());

  const std::string log = TestLog();
  for (const char* line :
       {"TransmitInstance created", "SetAudioFormat rate=48000 ch=2",
        "AcquireSuites: err=0 ppix=", ":main:INFO] ActivateDeactivate: audio=0 video=0 → Stop",
        ":main:INFO] ActivateDeactivate: audio=0 video=1 → Start",
        ":main:INFO] ActivateDeactivate: audio=1 video=0 → Start"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  const int64_t releasesBefore = HostSuites::Instance().counters().suiteReleases.load();
  EXPECT_EQ(module_.DisposeInstance(&std_, &record_), tmResult_Success);
  EXPECT_EQ(record_.ioPrivateInstanceData, nullptr);
  EXPECT_EQ(HostSuites::Instance().counters().suiteReleases.load(), releasesBefore + 1)
      << "the PPix suite is released";
  EXPECT_NE(TestLog().find("TransmitInstance destroyed"), std::string::npos);
  EXPECT_NE(TestLog().find("ReleaseSuites done"), std::string::npos);
}

TEST_F(TransmitEntryTest, WithoutAnEncoderTheInstanceIsDormant) {
  SetEncoderFactoryForTesting(
      [](const std::string&) { return std::shared_ptr<IHardwareEncoder>(); });
  record_.ioPrivateInstanceData = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(module_.CreateInstance(&std_, &record_), -4);
  EXPECT_EQ(record_.ioPrivateInstanceData, nullptr);
  EXPECT_NE(TestLog().find("TransmitInstance: encoder factory returned null — dormant"),
            std::string::npos);
  // Entries on an instance-less record are harmless.
  EXPECT_EQ(module_.ActivateDeactivate(&std_, &record_, PrActivationEvent_Unspecified, 1, 1), 0);
  EXPECT_EQ(module_.DisposeInstance(&std_, &record_), tmResult_Success);
}

// No exception reaches the host: an instance that cannot be made answers −4, the log has one
// line however often it happens, and the module goes on serving.
TEST_F(TransmitEntryTest, AnInstanceThatCannotBeMadeAnswersAnErrorLoggedOnce) {
  SetEncoderFactoryForTesting(
      [](const std::string&) -> std::shared_ptr<IHardwareEncoder> { throw std::bad_alloc(); });
  record_.ioPrivateInstanceData = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(module_.CreateInstance(&std_, &record_), -4);
  EXPECT_EQ(record_.ioPrivateInstanceData, nullptr) << "nothing for DisposeInstance to free";
  EXPECT_EQ(module_.CreateInstance(&std_, &record_), -4);
  const std::string log = TestLog();
  const std::string line =
      ":transmit:FAULT] CreateInstance: exception stopped at the entry (std::bad_alloc)";
  const size_t first = log.find(line);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find(line, first + 1), std::string::npos) << "logged once";
  SetEncoderFactoryForTesting([](const std::string&) {
    return std::make_shared<test::FakeEncoder>(std::make_shared<test::FakeEncoderWorld>());
  });
  EXPECT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
}

// A host whose suites throw (a C++ host's exception across our entry): the instance being made
// when it happened must not stay registered with the transport, half made and owned by nobody.
SPErr ThrowingAcquire(const char*, int32_t, const void**) {
  throw std::runtime_error("the host's AcquireSuite threw");
}
SPBasicSuite* ThrowingBasicSuite() {
  static SPBasicSuite suite = *HostSuites::Instance().Basic();
  suite.AcquireSuite = ThrowingAcquire;
  return &suite;
}

TEST_F(TransmitEntryTest, AnInstanceWhoseSetUpThrowsIsUnregisteredAndFreed) {
  PlugUtilFuncs util = *HostSuites::Instance().PiSuites()->utilFuncs;
  util.getSPBasicSuite = ThrowingBasicSuite;
  piSuites suites = *HostSuites::Instance().PiSuites();
  suites.utilFuncs = &util;
  tmStdParms throwing{};
  throwing.piSuites = &suites;
  EXPECT_EQ(module_.CreateInstance(&throwing, &record_), -4);
  EXPECT_EQ(record_.ioPrivateInstanceData, nullptr);
  const std::string log = TestLog();
  EXPECT_EQ(test::Count(log, "] acquire: instance="), 1u) << log;
  EXPECT_EQ(test::Count(log, "] release: instance="), 1u) << "still registered: " << log;
  EXPECT_NE(log.find("TransmitInstance destroyed"), std::string::npos);
}

struct FrameRateCase {
  PrTime ticksPerSecond;
  PrTime ticksPerFrame;
  int32_t expectedFps;
};

TEST_F(TransmitEntryTest, FrameRateIsRoundedAndClamped) {
  for (const FrameRateCase& c :
       {FrameRateCase{90000000, 3003000, 30},                                        // 29.970
        FrameRateCase{90000000, 3750000, 24},                                        // 24.000
        FrameRateCase{90000000, 1800000, 50}, FrameRateCase{90000000, 100000, 240},  // 900 fps
        FrameRateCase{90000000, 200000000, 1},                                       // 0.45 fps
        FrameRateCase{100, 40, 3}}) {  // 2.5 rounds away from 0
    HostSuites::Instance().SetTicksPerSecond(c.ticksPerSecond);
    record_.inVideoFrameRate = c.ticksPerFrame;
    ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
    EXPECT_EQ(Instance()->Fps(), c.expectedFps) << c.ticksPerFrame;
    module_.DisposeInstance(&std_, &record_);
  }
  EXPECT_NE(TestLog().find("SetVideoFrameRate: 3003000 ticks/frame → 29.970 → 30 fps"),
            std::string::npos);
}

TEST_F(TransmitEntryTest, BrokenTimeInformationKeepsTheFallbackRate) {
  record_.inVideoFrameRate = 0;
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  EXPECT_EQ(Instance()->Fps(), 30);
  module_.DisposeInstance(&std_, &record_);

  HostSuites::Instance().SetTicksPerSecond(0);
  record_.inVideoFrameRate = 1000;
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  EXPECT_EQ(Instance()->Fps(), 30);
  module_.DisposeInstance(&std_, &record_);

  HostSuites::Instance().SetTimeSuiteAvailable(false);
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  EXPECT_EQ(Instance()->Fps(), 30);
  HostSuites::Instance().SetTimeSuiteAvailable(true);

  const std::string log = TestLog();
  EXPECT_NE(log.find("SetVideoFrameRate: ticksPerFrame=0 — keeping fallback 30 fps"),
            std::string::npos);
  EXPECT_NE(log.find("SetVideoFrameRate: GetTicksPerSecond returned 0"), std::string::npos);
  EXPECT_NE(log.find("SetVideoFrameRate: AcquireSuite(Time) failed err="), std::string::npos);
}

TEST_F(TransmitEntryTest, ZeroAudioFormatTakesTheDefaults) {
  record_.inAudioSampleRate = 0;
  record_.inNumChannels = 0;
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  EXPECT_EQ(Instance()->AudioSampleRate(), 48000u);
  EXPECT_EQ(Instance()->AudioChannels(), 2u);
}

TEST_F(TransmitEntryTest, PushedFramesAreAlwaysDisposed) {
  ASSERT_EQ(module_.CreateInstance(&std_, &record_), tmResult_Success);
  auto& counters = HostSuites::Instance().counters();
  const int64_t disposedBefore = counters.framesDisposed.load();
  tmLabeledFrame frames[3] = {{HostSuites::Instance().NewFrame(64, 64, 256), nullptr},
                              {nullptr, nullptr},
                              {HostSuites::Instance().NewFrame(32, 32, 128), nullptr}};
  const tmPushVideo push{-1, playmode_Playing, kPrRenderQuality_High, frames, 3};
  EXPECT_EQ(module_.PushVideo(&std_, &record_, &push), tmResult_Success);
  EXPECT_EQ(counters.framesDisposed.load(), disposedBefore + 2);
  EXPECT_EQ(module_.PushVideo(&std_, &record_, nullptr), tmResult_Success);
}

}  // namespace
}  // namespace Sorvane
