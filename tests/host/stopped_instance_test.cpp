#include <gtest/gtest.h>

#include <vector>

#include "host/host_frames.h"
#include "host/paired_instance_test_base.h"

// The host may go on pushing to an output it has deactivated; nothing of it may reach the phone.
namespace Sorvane {
namespace {

class StoppedInstanceTest : public test::PairedInstanceTest {
 protected:
  void PushSound() {
    std::vector<float> left(480, 0.25f), right(480, -0.25f);
    float* buffers[2] = {left.data(), right.data()};
    const sdk::tmPushAudio push{0, buffers, 480, 2};
    instance->PushAudio(&push);
  }
  int EncodedFrames() {
    int frames = -1;
    test::WithEncoder(*world, 1, [&](test::FakeEncoder& e) { frames = e.Frames(); });
    return frames;
  }
  static bool Receives(net::SocketHandle receiver) {
    uint8_t buffer[2048];
    return net::ReceiveDatagram(receiver, buffer, sizeof buffer, 500) > 0;
  }
};

TEST_F(StoppedInstanceTest, PushesWhileStoppedAreDisposedButNeverEncodedOrSent) {
  const net::SocketHandle video = TakeVideoReceiver();
  const net::SocketHandle audio = TakeAudioReceiver();
  ASSERT_NE(video, net::kInvalidSocket);
  ASSERT_NE(audio, net::kInvalidSocket);
  auto& counters = hostsim::HostSuites::Instance().counters();

  instance->Stop();
  const int64_t disposed = counters.framesDisposed.load();
  test::PushFrames(*instance, 640, 360, 2);
  PushSound();
  EXPECT_EQ(counters.framesDisposed.load(), disposed + 2) << "the host's frames are given back";
  EXPECT_EQ(EncodedFrames(), 0);
  EXPECT_FALSE(Receives(video));
  EXPECT_FALSE(Receives(audio));
  EXPECT_FALSE(instance->IsActive());

  instance->Start();
  test::PushFrames(*instance, 640, 360);
  PushSound();
  EXPECT_EQ(EncodedFrames(), 1);
  EXPECT_TRUE(Receives(video));
  EXPECT_TRUE(Receives(audio));
  net::CloseSocket(video);
  net::CloseSocket(audio);
}

}  // namespace
}  // namespace Sorvane
