#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "host/encoder_pipeline.h"
#include "host/host_frames.h"
#include "host/paired_instance_test_base.h"
#include "net/datagram_header.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "transport/transport_fixture.h"

// What a phone that has just paired is told, and the picture it is given before the host pushes
// the next frame.
namespace Sorvane {
namespace {

using test::TestLog;

class NewClientTest : public test::PairedInstanceTest {
 protected:
  // A second phone pairs by code, which replaces the first; returns once it was accepted.
  std::unique_ptr<test::TestClient> PairAnotherPhone() {
    return PairPhone("second-phone", "Phone 2");
  }
  // Opcodes the phone receives up to and including the transmit state that ends the pairing.
  static std::vector<uint8_t> OpcodesUpToTransmitState(test::TestClient& phone) {
    std::vector<uint8_t> opcodes;
    while (auto message = phone.Next()) {
      opcodes.push_back(message->opcode);
      if (message->opcode == wire::kTransmitState)
        break;
    }
    return opcodes;
  }
  int EncodedFrames() {
    int frames = -1;
    test::WithEncoder(*world, 1, [&](test::FakeEncoder& e) { frames = e.Frames(); });
    return frames;
  }
};

TEST_F(NewClientTest, TheNewPhoneLearnsTheSetupInOrderAndGetsTheLastPictureAsAKeyframe) {
  test::PushFrames(*instance, 640, 360);
  ASSERT_EQ(EncodedFrames(), 1);
  const net::SocketHandle video = TakeVideoReceiver();
  ASSERT_NE(video, net::kInvalidSocket);
  uint8_t buffer[2048];
  while (net::ReceiveDatagram(video, buffer, sizeof buffer, 300) > 0) {
  }

  auto phone = PairAnotherPhone();
  EXPECT_EQ(OpcodesUpToTransmitState(*phone),
            (std::vector<uint8_t>{wire::kHostPlatform, wire::kEncoderEngineList, wire::kEncoderInfo,
                                  wire::kTransmitState}))
      << "no stream description before the next frame re-commits the source";
  EXPECT_EQ(EncodedFrames(), 2) << "the cached frame was encoded again";
  const int n = net::ReceiveDatagram(video, buffer, sizeof buffer, 2000);
  ASSERT_GT(n, 0) << "the replayed picture reaches the new phone";
  const auto header = ParseDatagramHeader(buffer, static_cast<size_t>(n));
  ASSERT_TRUE(header);
  EXPECT_TRUE(header->keyframe()) << "the new phone can decode it without earlier pictures";
  net::CloseSocket(video);

  clock.Advance(600'000'000);  // the source was first seen long ago
  test::PushFrames(*instance, 640, 360);
  auto announced = phone->Next();
  ASSERT_TRUE(announced);
  EXPECT_EQ(announced->opcode, wire::kSourceChanged) << "the next frame announces the source";
  auto info = phone->Next();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->opcode, wire::kStreamInfo);
}

TEST_F(NewClientTest, NoReplayWhileTheEncodedSizeDiffersFromTheCachedPicture) {
  const uint8_t cap[2] = {180, 0};
  instance->HandleControl(wire::kSetMaxResolution, cap, 2);
  test::PushFrames(*instance, 640, 360);
  ASSERT_EQ(instance->CopyPipeline()->Width(), 320);
  ASSERT_EQ(EncodedFrames(), 1);
  auto phone = PairAnotherPhone();
  OpcodesUpToTransmitState(*phone);
  EXPECT_EQ(EncodedFrames(), 1) << "a 640x360 picture must not go into a 320x180 encoder";
  EXPECT_NE(TestLog().find("OnNewClient replay: dim mismatch cache=640x360 enc=320x180 — skip"),
            std::string::npos);
}

// A phone that stops reading holds a control send for up to its 2 s limit. The greeting of a new
// client may be the one held, and pushed frames must not wait behind it.
TEST_F(NewClientTest, AGreetingHeldByAPhoneThatDoesNotReadHoldsUpNoPushedFrame) {
  test::PushFrames(*instance, 640, 360);
  const uint8_t marker = 0xEE;
  ASSERT_TRUE(transport->SendControl(wire::kCommandAck, &marker, 1));
  while (auto m = client->NextOf(wire::kCommandAck)) {  // the phone has read all but what follows
    if (m->payload[0] == marker)
      break;
  }
  // More than the kernel holds on both sides: the send waits until the phone reads, which it
  // never does, so the connection is stuck until the send gives up.
  std::atomic<bool> fillerDone{false};
  std::thread filler([&] {
    const std::vector<uint8_t> bulk(32u << 20, 0x5A);
    transport->SendControl(wire::kEncoderInfo, bulk.data(), bulk.size());
    fillerDone = true;
  });
  ASSERT_TRUE(client->Arrived(3000)) << "the bulk message is on its way: it holds the connection";
  int requests = 0;
  test::WithEncoder(*world, 1, [&](test::FakeEncoder& e) { requests = e.KeyframeRequests(); });
  std::thread greeting([&] { instance->OnNewClient(); });
  ASSERT_TRUE(test::Eventually([&] {
    int now = 0;
    test::WithEncoder(*world, 1, [&](test::FakeEncoder& e) { now = e.KeyframeRequests(); });
    return now > requests;
  })) << "the greeting has begun (it asks for a keyframe first)";
  test::PushFrames(*instance, 640, 360);
  EXPECT_FALSE(fillerDone.load()) << "the pushed frame waited for the stuck greeting";
  EXPECT_EQ(EncodedFrames(), 2);
  filler.join();
  greeting.join();
  EXPECT_EQ(EncodedFrames(), 3) << "the greeting went on to replay the cached picture";
}

}  // namespace
}  // namespace Sorvane
