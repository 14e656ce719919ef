#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "diag/log.h"
#include "host/host_frames.h"
#include "host/paired_instance_test_base.h"
#include "host/shaped_encoder.h"
#include "net/datagram_header.h"
#include "net/framer.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

// What the instance does when its encoder stops producing output, or produces more than the wire
// can carry.
namespace Sorvane {
namespace {

constexpr int64_t kMs = 1'000'000;

using test::Count;
using test::TestLog;

class EncoderRecoveryTest : public test::PairedInstanceTest {
 protected:
  void SetUp() override {
    test::PairedInstanceTest::SetUp();
    if (HasFatalFailure())
      return;
    instance = std::make_unique<TransmitInstance>(
        hostsim::HostSuites::Instance().Basic(),
        [this](const std::string&) {
          return std::make_shared<test::ShapedEncoder>(std::make_shared<test::FakeEncoder>(world),
                                                       shape);
        },
        transport.get(), &clock);
    instance->Start();
  }
  void Push() { test::PushFrames(*instance, 640, 360); }
  // The next video datagram's payload size, or -1 when none comes.
  int NextVideoDatagram(net::SocketHandle receiver, int timeoutMs) {
    uint8_t buffer[2048];
    const int n = net::ReceiveDatagram(receiver, buffer, sizeof buffer, timeoutMs);
    return n > 0 ? n : -1;
  }

  std::shared_ptr<test::EncoderShape> shape = std::make_shared<test::EncoderShape>();
};

TEST_F(EncoderRecoveryTest, ASilentEncoderIsRebuiltAfterThreeSecondsAndAtMostEveryFive) {
  Push();
  ASSERT_EQ(shape->configures.load(), 1);
  shape->silent = true;
  clock.Advance(3000 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 1) << "three seconds exactly are not yet a stall";
  const int keyRequests = shape->keyframeRequests.load();
  clock.Advance(1 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 2) << "the first stall is rebuilt at once";
  EXPECT_EQ(shape->keyframeRequests.load(), keyRequests + 1);
  EXPECT_NE(TestLog().find("encoder stall: no output for 3001 ms while feeding — rebuilding "
                           "session 640x360 @ 30 fps"),
            std::string::npos);

  clock.Advance(4000 * kMs);  // silent for 4 s since the rebuild, but only 4 s since it
  Push();
  EXPECT_EQ(shape->configures.load(), 2) << "rebuilds are at least five seconds apart";
  clock.Advance(1000 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 2) << "five seconds exactly are not enough";
  clock.Advance(1 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 3);

  shape->silent = false;
  Push();
  clock.Advance(2900 * kMs);
  Push();
  clock.Advance(2900 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 3) << "an encoder that delivers is left alone";
}

TEST_F(EncoderRecoveryTest, AFrameTooLargeForTheWireIsNotSentAndTheEncoderIsToldToCompress) {
  const net::SocketHandle video = TakeVideoReceiver();
  ASSERT_NE(video, net::kInvalidSocket);
  Push();
  EXPECT_GT(NextVideoDatagram(video, 2000), 0) << "an ordinary frame goes out";
  while (NextVideoDatagram(video, 200) > 0) {
  }

  const std::string overrun =
      "wire overrun: encoded 94370401 B → 65536 frags > max 65535 (gopSize=1) — triggered "
      "emergency compression for 30 frames";
  const size_t overrunLines = Count(TestLog(), overrun);
  shape->outputBytes = kMaxFragmentTotal * kFragmentBytes + 1;  // one fragment too many
  const int keyRequests = shape->keyframeRequests.load();
  Push();
  EXPECT_EQ(shape->emergencies.load(), 1);
  EXPECT_EQ(shape->keyframeRequests.load(), keyRequests) << "all-intra: every frame is a keyframe";
  EXPECT_EQ(NextVideoDatagram(video, 300), -1) << "the oversized frame is not sent";
  EXPECT_EQ(Count(TestLog(), overrun), overrunLines + 1);

  const uint8_t longGop = 3;
  instance->HandleControl(wire::kSetGopMode, &longGop, 1);
  const int beforeLongGopOverrun = shape->keyframeRequests.load();
  Push();
  EXPECT_EQ(shape->emergencies.load(), 2);
  EXPECT_EQ(shape->keyframeRequests.load(), beforeLongGopOverrun + 1)
      << "with a long GOP the next picture must not refer to the dropped one";

  shape->outputBytes = 0;
  Push();
  EXPECT_GT(NextVideoDatagram(video, 2000), 0) << "the next ordinary frame goes out again";
  net::CloseSocket(video);
}

}  // namespace
}  // namespace Sorvane
