#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "diag/log.h"
#include "encoder/encoder_factory.h"
#include "host/encoder_pipeline.h"
#include "host/paired_instance_test_base.h"
#include "host/transmit_instance.h"
#include "net/shared_transport.h"
#include "pipeline/fake_encoder.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "sv-host/host_suites.h"
#include "transport/spy_dialog.h"
#include "transport/test_client.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSuites;

using test::TestLog;

class CommandTest : public test::PairedInstanceTest {
 protected:
  std::vector<int> Acks(int timeoutMs = 500) {
    std::vector<int> acks;
    while (auto m = client->Next(timeoutMs)) {
      if (m->opcode == wire::kCommandAck)
        acks.push_back(m->payload[0]);
    }
    return acks;
  }
};

TEST_F(CommandTest, GopModesCodecAndRateControl) {
  const uint8_t autoMode = 2, bogus = 7, h264 = 1;
  instance->HandleControl(wire::kSetGopMode, &autoMode, 1);
  EXPECT_EQ(transport->GetCachedClientSettings().gopMode, 2);
  EXPECT_EQ(instance->CopyPipeline()->GopSize(), 1);
  instance->HandleControl(wire::kSetGopMode, &bogus, 1);
  instance->HandleControl(wire::kSetCodec, &h264, 1);
  const uint8_t quality[2] = {1, 250};
  instance->HandleControl(wire::kSetEncoderMode, quality, 2);
  instance->HandleControl(wire::kSetGopMode, nullptr, 0);  // too short: acknowledged only
  EXPECT_EQ(Acks(), (std::vector<int>{0x04, 0x04, 0x05, 0x08, 0x04}));
  const std::string log = TestLog();
  EXPECT_NE(log.find("control: SetGopMode AUTO is retired — keeping current=1"), std::string::npos);
  EXPECT_NE(log.find("[Vuvovede] Step 1 GOP applied: ?-fallback-AllIntra (gopSize=1)"),
            std::string::npos);
  EXPECT_NE(log.find("control: SetCodec H264"), std::string::npos);
  EXPECT_NE(log.find("control: SetEncoderMode Quality q=100%"), std::string::npos);
  EXPECT_EQ(instance->CopyPipeline()->GetCodec(), Codec::H264);
  EXPECT_EQ(instance->CopyPipeline()->GetRateControl(), RateControlMode::Quality);
  const auto cached = transport->GetCachedClientSettings();
  EXPECT_EQ(cached.codec, 1);
  EXPECT_EQ(cached.qualityPercent, 100);
  EXPECT_EQ(transport->PacerForTesting().Bitrate(), 340000u * 8 * 30 * 4) << "quality pacing";
}

TEST_F(CommandTest, EngineRequestsAndSnapshots) {
  const uint8_t malformed[3] = {5, 'a', 'b'};
  instance->HandleControl(wire::kSetEncoderEngine, malformed, 3);
  // idLen 10 but only 8 bytes follow: four settings, no engine.
  const uint8_t snapshot[14] = {0xE0, 0x01, 1, 3, 1, 10, 's', 'o', 'f', 't', 'w', 'a', 'r', 'e'};
  instance->HandleControl(wire::kAppSettingsSnapshot, snapshot, sizeof snapshot);
  EXPECT_EQ(Acks(), (std::vector<int>{0x13, 0x07, 0x05, 0x04, 0x08}));
  EXPECT_EQ(instance->ShortSideCap(), 480);
  EXPECT_EQ(instance->CopyPipeline()->GopSize(), 600);
  EXPECT_NE(TestLog().find("control: SetEncoderEngine malformed (idLen=5 payloadLen=3)"),
            std::string::npos);

  const uint8_t first[] = {8, 's', 'o', 'f', 't', 'w', 'a', 'r', 'e'};
  const auto before = instance->CopyPipeline();
  instance->HandleControl(wire::kSetEncoderEngine, first, sizeof first);
  EXPECT_EQ(instance->CopyPipeline(), before) << "the first id only renames the seed";
  const uint8_t second[] = {5, 'o', 't', 'h', 'e', 'r'};
  instance->HandleControl(wire::kSetEncoderEngine, second, sizeof second);
  auto info = client->NextOf(wire::kEncoderInfo);
  ASSERT_TRUE(info);
  EXPECT_EQ(std::string(info->payload.begin() + 1, info->payload.end()), "Switching encoder...");
  EXPECT_NE(instance->CopyPipeline(), before) << "a different id rebuilds the pipeline";
  EXPECT_NE(TestLog().find("engine switch: rebuilt pipeline with 'other'"), std::string::npos);
  EXPECT_EQ(EngineRequests(), (std::vector<std::string>{"", "other"}))
      << "the instance's own factory made both encoders";
}

// The engine switch makes its encoders with the factory the instance was given: an engine that
// cannot be made falls back to the default one, and with no encoder at all the stream goes on
// with the current pipeline.
TEST_F(CommandTest, AnEngineThatCannotBeMadeFallsBackToTheDefaultThenKeepsTheCurrentOne) {
  const uint8_t seed[] = {5, 'f', 'i', 'r', 's', 't'};
  instance->HandleControl(wire::kSetEncoderEngine, seed, sizeof seed);
  RefuseEngine("gone");
  const uint8_t gone[] = {4, 'g', 'o', 'n', 'e'};
  const auto before = instance->CopyPipeline();
  instance->HandleControl(wire::kSetEncoderEngine, gone, sizeof gone);
  EXPECT_EQ(EngineRequests(), (std::vector<std::string>{"", "gone", ""}));
  EXPECT_NE(instance->CopyPipeline(), before) << "rebuilt with the default encoder";
  std::string log = TestLog();
  EXPECT_NE(log.find("engine switch: CreateForEngine('gone') failed — falling back to default"),
            std::string::npos);
  EXPECT_NE(log.find("engine switch: rebuilt pipeline with 'gone'"), std::string::npos);

  RefuseEngine("");
  RefuseEngine("none");
  const auto current = instance->CopyPipeline();
  const uint8_t none[] = {4, 'n', 'o', 'n', 'e'};
  instance->HandleControl(wire::kSetEncoderEngine, none, sizeof none);
  EXPECT_EQ(EngineRequests(), (std::vector<std::string>{"", "gone", "", "none", ""}));
  EXPECT_EQ(instance->CopyPipeline(), current);
  log = TestLog();
  EXPECT_NE(log.find("engine switch: no encoder available — keeping current pipeline"),
            std::string::npos);
  EXPECT_EQ(log.find("rebuilt pipeline with 'none'"), std::string::npos);
  instance->HandleControl(wire::kSetEncoderEngine, none, sizeof none);
  EXPECT_EQ(EngineRequests().size(), 7u) << "the failed id was not adopted: tried again";
}

TEST_F(CommandTest, UnknownAndRetiredOpcodesAreLoggedNotAcknowledged) {
  instance->HandleControl(0x06, nullptr, 0);
  const uint8_t four[4] = {};
  instance->HandleControl(wire::kSetAutoMode, four, 4);
  instance->HandleControl(wire::kSetBitrate, four, 4);
  const uint8_t marker[] = {5, 'h', 'i', '\n', 'x', 'y'};
  instance->HandleControl(wire::kTestMarker, marker, sizeof marker);
  EXPECT_EQ(Acks(), (std::vector<int>{0x02}));
  const std::string log = TestLog();
  EXPECT_NE(log.find("control: unhandled opcode 0x06"), std::string::npos);
  EXPECT_NE(log.find("control: retired opcode 0x0A (SetAutoMode) — ignored"), std::string::npos);
  EXPECT_NE(log.find("[TEST] hi\\x0axy"), std::string::npos) << "client text cannot break lines";
}

TEST_F(CommandTest, FanOutReplayAndCounters) {
  auto second = MakeInstance();
  client->Send({wire::kSetCodec, 1});
  EXPECT_EQ(Acks(), (std::vector<int>{0x05, 0x05})) << "each registered instance acknowledges";
  auto third = MakeInstance();  // registered while the client is paired: the cache is replayed
  EXPECT_EQ(Acks(), (std::vector<int>{0x05}));
  EXPECT_EQ(third->CopyPipeline()->GetCodec(), Codec::H264);
  const uint32_t s = transport->ReserveVideoSequence(5);
  EXPECT_EQ(transport->ReserveVideoSequence(5), s + 5);
  const uint16_t id = transport->NextAudioFrameId();
  EXPECT_EQ(transport->NextAudioFrameId(), static_cast<uint16_t>(id + 1));
  second.reset();
  third.reset();
  instance.reset();
  test::TestClient late(port);
  EXPECT_TRUE(late.connected()) << "the port keeps accepting after the last instance is released";
}

TEST(TargetSize, ShortSideCapKeepsAspectAndEvenSides) {
  EXPECT_EQ(ComputeTargetSize(3840, 2160, 1080), std::make_pair(1920, 1080));
  EXPECT_EQ(ComputeTargetSize(1000, 563, 480), std::make_pair(852, 480));
  EXPECT_EQ(ComputeTargetSize(1280, 720, 0), std::make_pair(1280, 720));
  EXPECT_EQ(ComputeTargetSize(1279, 719, 720), std::make_pair(1279, 719)) << "odd sizes pass";
  EXPECT_EQ(ComputeTargetSize(1280, 720, 480), std::make_pair(852, 480))
      << "853.8 truncated, evened";
  EXPECT_EQ(ComputeTargetSize(4000, 20, 8), std::make_pair(1600, 16)) << "at least 16";
}

}  // namespace
}  // namespace Sorvane
