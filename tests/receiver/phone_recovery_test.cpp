// A phone's handling of pictures lost for good: frames in order with a short hold, a keyframe
// asked for (not too often), and nothing decoded until it comes.
#include <gtest/gtest.h>

#include <vector>

#include "sv-receiver/lib/frame_orderer.h"
#include "sv-receiver/lib/loss_recovery.h"

namespace Sorvane::receiver {
namespace {

constexpr int64_t kMs = 1000;

AssembledFrame Frame(uint16_t id, bool keyframe = false) {
  AssembledFrame f;
  f.streamType = 1;
  f.frameId = id;
  f.keyframe = keyframe;
  return f;
}

struct Orderer {
  std::vector<uint16_t> released;
  std::vector<std::pair<uint16_t, uint32_t>> losses;
  FrameOrderer orderer{[this](const AssembledFrame& f) { released.push_back(f.frameId); },
                       [this](uint16_t first, uint32_t n) { losses.emplace_back(first, n); },
                       10 * kMs};
};

TEST(FrameOrderer, ReleasesInOrderAndGivesUpAHoleAfterTheHold) {
  Orderer o;
  o.orderer.OnFrame(Frame(65534), 0);
  o.orderer.OnFrame(Frame(0), 1 * kMs);  // 65535 is late: 0 waits
  EXPECT_EQ(o.released, std::vector<uint16_t>({65534}));
  o.orderer.OnFrame(Frame(65535), 5 * kMs);  // came within the hold: all in order
  EXPECT_EQ(o.released, std::vector<uint16_t>({65534, 65535, 0}));

  o.orderer.OnFrame(Frame(3), 20 * kMs);  // 1 and 2 missing
  o.orderer.OnFrame(Frame(4), 25 * kMs);
  EXPECT_EQ(o.orderer.NextDeadlineUs(), 30 * kMs) << "the oldest waiting frame sets the time";
  o.orderer.OnTick(29 * kMs);
  EXPECT_TRUE(o.losses.empty());
  o.orderer.OnTick(30 * kMs);
  ASSERT_EQ(o.losses.size(), 1u);
  EXPECT_EQ(o.losses[0], std::make_pair(uint16_t{1}, uint32_t{2}));
  EXPECT_EQ(o.released.back(), 4);
  o.orderer.OnFrame(Frame(2), 31 * kMs);
  EXPECT_EQ(o.orderer.stats().late, 1u) << "too late once given up";
  EXPECT_EQ(o.orderer.stats().lost, 2u);
  EXPECT_EQ(o.orderer.stats().released, 5u);
}

struct Phone {
  int requests = 0;
  LossRecovery recovery{[this] { ++requests; }};
  // One frame in order at `nowUs`: decoded and shown, or not.
  bool Play(bool keyframe, int64_t nowUs) {
    if (!recovery.ShouldDecode(keyframe, nowUs))
      return false;
    recovery.OnShown(keyframe, nowUs);
    return true;
  }
};

TEST(LossRecovery, AfterALossTheLastPictureStaysUntilTheKeyframeItAskedFor) {
  Phone phone;
  EXPECT_TRUE(phone.Play(true, 0));
  EXPECT_TRUE(phone.Play(false, 33 * kMs));
  phone.recovery.OnLost(1, 80 * kMs);
  EXPECT_EQ(phone.requests, 1);
  EXPECT_FALSE(phone.Play(false, 100 * kMs)) << "an inter frame after the hole cannot decode";
  phone.recovery.OnLost(1, 120 * kMs);
  EXPECT_EQ(phone.requests, 1) << "its keyframe may still be on the way";
  phone.recovery.OnLost(1, 180 * kMs);
  EXPECT_EQ(phone.requests, 2) << "the keyframe asked for may be what was lost";
  EXPECT_TRUE(phone.Play(true, 233 * kMs));
  EXPECT_TRUE(phone.Play(false, 266 * kMs));

  const LossRecovery::Stats& s = phone.recovery.stats();
  EXPECT_EQ(s.shown, 4u);
  EXPECT_EQ(s.lost, 3u);
  EXPECT_EQ(s.skipped, 1u);
  EXPECT_EQ(s.Expected(), 8u);
  EXPECT_EQ(s.keyframeRequests, 2u);
  EXPECT_EQ(s.longestFreezeUs, 200 * kMs) << "from the last picture before the loss";
  EXPECT_EQ(s.lossToKeyframeUs, std::vector<int64_t>({153 * kMs}));
}

TEST(LossRecovery, RequestsAreSpacedAndRepeatedOnlyWhenTheKeyframeIsOverdue) {
  Phone phone;
  phone.Play(true, 0);
  phone.Play(false, 33 * kMs);
  phone.recovery.OnLost(1, 50 * kMs);
  phone.Play(true, 70 * kMs);
  phone.recovery.OnLost(1, 90 * kMs);  // a new loss soon after: asked for once the spacing allows
  EXPECT_EQ(phone.requests, 1);
  phone.recovery.OnTick(99 * kMs);
  EXPECT_EQ(phone.requests, 1);
  phone.recovery.OnTick(100 * kMs);
  EXPECT_EQ(phone.requests, 2);
  phone.recovery.OnTick(599 * kMs);
  EXPECT_EQ(phone.requests, 2);
  phone.recovery.OnTick(600 * kMs);
  EXPECT_EQ(phone.requests, 3) << "the keyframe never came: asked again";
}

TEST(LossRecovery, AllIntraNeedsNoRequestAndAPauseIsNoFreeze) {
  Phone phone;
  phone.Play(true, 0);
  phone.recovery.OnLost(1, 40 * kMs);
  EXPECT_TRUE(phone.Play(true, 66 * kMs)) << "every frame is a keyframe";
  EXPECT_EQ(phone.requests, 0);
  EXPECT_TRUE(phone.Play(true, 5000 * kMs)) << "the host paused: nothing was missed meanwhile";
  EXPECT_EQ(phone.recovery.stats().longestFreezeUs, 66 * kMs);
  EXPECT_EQ(phone.recovery.stats().longestGapUs, 4934 * kMs);

  Phone late;  // joined in the middle: no keyframe to build on yet
  EXPECT_FALSE(late.Play(false, 0));
  EXPECT_EQ(late.requests, 1);
  EXPECT_TRUE(late.Play(true, 40 * kMs));
}

}  // namespace
}  // namespace Sorvane::receiver
