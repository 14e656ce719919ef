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
    instance = MakeShapedInstance();
  }
  std::unique_ptr<TransmitInstance> MakeShapedInstance() {
    auto made = std::make_unique<TransmitInstance>(
        hostsim::HostSuites::Instance().Basic(),
        [this](const std::string&) {
          return std::make_shared<test::ShapedEncoder>(std::make_shared<test::FakeEncoder>(world),
                                                       shape);
        },
        transport.get(), &clock);
    made->Start();
    return made;
  }
  void Push() { test::PushFrames(*instance, 640, 360); }
  // Pushes a frame every 100 ms for `ms` milliseconds, as a playing host does.
  void FeedFor(int ms) {
    for (int elapsed = 0; elapsed < ms; elapsed += 100) {
      clock.Advance(100 * kMs);
      Push();
    }
  }
  // The next video datagram's payload size, or -1 when none comes.
  int NextVideoDatagram(net::SocketHandle receiver, int timeoutMs) {
    uint8_t buffer[2048];
    const int n = net::ReceiveDatagram(receiver, buffer, sizeof buffer, timeoutMs);
    return n > 0 ? n : -1;
  }

  std::shared_ptr<test::EncoderShape> shape = std::make_shared<test::EncoderShape>();
};

TEST_F(EncoderRecoveryTest, AnEncoderSilentWhileFedIsRebuiltAfterThreeSecondsAndAtMostEveryFive) {
  Push();
  ASSERT_EQ(shape->configures.load(), 1);
  shape->silent = true;
  Push();  // the first frame that goes unanswered
  FeedFor(3000);
  EXPECT_EQ(shape->configures.load(), 1) << "three seconds exactly are not yet a stall";
  const int keyRequests = shape->keyframeRequests.load();
  clock.Advance(1 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 2) << "the first stall is rebuilt at once";
  EXPECT_EQ(shape->keyframeRequests.load(), keyRequests + 1);
  EXPECT_NE(TestLog().find("encoder stall: no output for 3001 ms while feeding — rebuilding "
                           "session 640x360 @ 30 fps"),
            std::string::npos);

  FeedFor(5000);  // silent since the rebuild, but the next one waits five seconds after it
  EXPECT_EQ(shape->configures.load(), 2) << "five seconds exactly are not enough";
  clock.Advance(1 * kMs);
  Push();
  EXPECT_EQ(shape->configures.load(), 3);

  shape->silent = false;
  FeedFor(6000);
  EXPECT_EQ(shape->configures.load(), 3) << "an encoder that delivers is left alone";
}

// A paused host pushes nothing. An encoder whose output comes from its own thread, a few frames
// behind, has not answered the first frame after the pause when the push returns. That is no
// stall: the session must survive, not be rebuilt on the host's render thread.
TEST_F(EncoderRecoveryTest, APauseOfTheHostIsNoStallForAnEncoderThatAnswersLate) {
  instance.reset();
  world->outputLatency = 2;
  world->holdOutput = true;
  instance = MakeShapedInstance();
  auto feedAnsweringLate = [&](int ms) {
    for (int elapsed = 0; elapsed < ms; elapsed += 100) {
      clock.Advance(100 * kMs);
      Push();
      world->ReleaseHeldOutput();  // the encoder's thread answers after the push
    }
  };
  feedAnsweringLate(1000);
  const int configures = shape->configures.load();
  for (int pause = 0; pause < 3; ++pause) {
    clock.Advance(6000 * kMs);  // paused longer than a stall and than the rebuild spacing
    feedAnsweringLate(300);
  }
  EXPECT_EQ(shape->configures.load(), configures);
  EXPECT_EQ(TestLog().find("encoder stall"), std::string::npos);
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
