#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/byte_order.h"
#include "diag/log.h"
#include "host/encoder_pipeline.h"
#include "host/paired_instance_test_base.h"
#include "host/transmit_instance.h"
#include "net/datagram_header.h"
#include "net/shared_transport.h"
#include "pipeline/fake_encoder.h"
#include "support/manual_clock.h"
#include "support/temp_profile.h"
#include "sv-host/host_suites.h"
#include "transport/spy_dialog.h"
#include "transport/test_client.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSuites;

class PushPathTest : public test::PairedInstanceTest {
 protected:
  void Push(int w, int h, int frames = 1, int rowBytes = 0) {
    std::vector<sdk::tmLabeledFrame> labeled;
    for (int i = 0; i < frames; ++i) {
      labeled.push_back(
          {HostSuites::Instance().NewFrame(w, h, rowBytes ? rowBytes : w * 4), nullptr});
    }
    const sdk::tmPushVideo push{-1, sdk::playmode_Playing, sdk::kPrRenderQuality_High,
                                labeled.data(), labeled.size()};
    instance->PushVideo(&push);
  }
  int SourceChangedMessages(int timeoutMs = 300) {
    int n = 0;
    while (auto m = client->Next(timeoutMs))
      n += m->opcode == wire::kSourceChanged;
    return n;
  }
};

TEST_F(PushPathTest, OneFramePerPushAndEveryFrameDisposed) {
  auto& counters = HostSuites::Instance().counters();
  const int64_t disposed = counters.framesDisposed.load();
  Push(640, 360, 3);
  EXPECT_EQ(counters.framesDisposed.load(), disposed + 3);
  EXPECT_EQ(instance->CopyPipeline()->Width(), 640) << "the first frame configured the encoder";
  Push(15, 200);
  Push(200, 15);
  Push(64, 64, 1, 64 * 4 - 8);  // rows shorter than the width: the encoder would overread
  EXPECT_EQ(instance->CopyPipeline()->Width(), 640) << "too small or short-row frames are dropped";
  EXPECT_NE(
      test::ReadFile(LogFolder() / "plugin-x.log").find("PushVideo: row bytes 248 < width 64"),
      std::string::npos);
  Push(16, 16);
  EXPECT_TRUE([&] {
    for (int i = 0; i < 100; ++i) {
      if (world->clones.load() == 1)
        return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }()) << "16 x 16 is accepted (and needs a new encoder)";
  EXPECT_EQ(counters.framesDisposed.load(), counters.framesCreated.load());
}

TEST_F(PushPathTest, SmallSizeChangesKeepTheEncoder) {
  const uint8_t cap[2] = {0x38, 0x04};  // 1080
  instance->HandleControl(wire::kSetMaxResolution, cap, 2);
  Push(3840, 2160);
  EXPECT_EQ(instance->CopyPipeline()->Width(), 1920);
  Push(1900, 1070);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(world->clones.load(), 0) << "within 5 % of the target";
  Push(1800, 1012);
  for (int i = 0; i < 100 && world->clones.load() == 0; ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(world->clones.load(), 1) << "more than 5 % away";
}

TEST_F(PushPathTest, SourceSizesAreAnnouncedAfterHalfASecond) {
  Push(1280, 720);
  EXPECT_EQ(SourceChangedMessages(), 1) << "the first frame commits its size at once";
  Push(1290, 726);  // within 5 %: no new encoder, so only the debounce can announce it
  Push(1280, 720);
  clock.Advance(600'000'000);
  Push(1280, 720);
  EXPECT_EQ(SourceChangedMessages(), 0) << "a size seen once and gone is never announced";
  Push(1300, 732);
  clock.Advance(400'000'000);
  Push(1300, 732);
  EXPECT_EQ(SourceChangedMessages(), 0) << "not before 500 ms";
  clock.Advance(200'000'000);
  Push(1300, 732);
  Push(1300, 732);
  EXPECT_EQ(SourceChangedMessages(), 1) << "then once";
}

TEST_F(PushPathTest, AudioGoesOutAsOnePacketInChunksOf1440) {
  const net::SocketHandle audio = net::CreateUdpReceiver(static_cast<uint16_t>(port + 2));
  ASSERT_NE(audio, net::kInvalidSocket);
  std::vector<float> left(1024, 0.5f), right(1024, -0.5f);
  float* buffers[2] = {left.data(), right.data()};
  const sdk::tmPushAudio push{0, buffers, 1024, 2};
  instance->PushAudio(&push);
  size_t datagrams = 0, bytes = 0;
  uint8_t buffer[2048];
  std::vector<uint8_t> packet;
  while (true) {
    const int n = net::ReceiveDatagram(audio, buffer, sizeof buffer, 1000);
    if (n <= 0)
      break;
    const auto header = ParseDatagramHeader(buffer, static_cast<size_t>(n));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->streamType, 2);
    EXPECT_EQ(header->flags, 0);
    EXPECT_EQ(header->fragmentTotal, 6);
    packet.insert(packet.end(), buffer + 22, buffer + 22 + header->payloadLength);
    ++datagrams;
    bytes += header->payloadLength;
    if (datagrams == 6)
      break;
  }
  net::CloseSocket(audio);
  EXPECT_EQ(datagrams, 6u);
  EXPECT_EQ(bytes, 8200u);
  ASSERT_GE(packet.size(), 16u);
  EXPECT_EQ(GetU32LE(packet.data()), 48000u);
  EXPECT_EQ(packet[4], 2);
  EXPECT_EQ(packet[5], 32);
  float first[2];
  std::memcpy(first, packet.data() + 8, 8);
  EXPECT_EQ(first[0], 0.5f) << "interleaved: frame 0 channel 0, then channel 1";
  EXPECT_EQ(first[1], -0.5f);
}

}  // namespace
}  // namespace Sorvane
