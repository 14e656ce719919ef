// The weather a link puts on the datagrams that cross it.
#include <gtest/gtest.h>

#include <vector>

#include "sv-receiver/lib/link_weather.h"

namespace Sorvane::receiver {
namespace {

TEST(LinkProfile, AProfileWithChangesAndWhatIsRefused) {
  const auto custom = ParseLinkProfile("congested,loss=5,rate=0", nullptr);
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->lossPercent, 5);
  EXPECT_EQ(custom->rateMbit, 0);
  EXPECT_EQ(custom->burstDatagrams, 3) << "the rest from the profile";
  for (const char* bad : {"lte", "loss=100", "burst=0.5", "rate=fast", ""})
    EXPECT_FALSE(ParseLinkProfile(bad, nullptr)) << bad;
}

// Without a policer: what goes in comes out delayed within the spread, reordered by it, and the
// losses come in bursts of the mean length asked for.
TEST(LinkWeather, BurstyLossAndJitterThatReorders) {
  LinkProfile profile = *ParseLinkProfile("loss=5,burst=4,delay=2,jitter=2", nullptr);
  LinkWeather link(profile, 7, nullptr);
  const uint8_t datagram[100] = {};
  std::vector<bool> lost;
  int64_t now = 0;
  size_t out = 0;
  for (int i = 0; i < 200'000; ++i, now += 20) {  // one datagram every 20 µs
    const auto arrivedBefore = link.stats().lostInBursts;
    link.Arrive(datagram, sizeof datagram, now);
    lost.push_back(link.stats().lostInBursts > arrivedBefore);
    link.Release(now, [&](const uint8_t*, size_t) { ++out; });
    if (const auto due = link.NextDueUs()) {
      EXPECT_GE(*due, now - 20);
      EXPECT_LE(*due, now + 4'000);
    }
  }
  link.Release(now + 5'000, [&](const uint8_t*, size_t) { ++out; });
  const auto& s = link.stats();
  EXPECT_EQ(out + s.lostInBursts, 200'000u);
  EXPECT_NEAR(static_cast<double>(s.lostInBursts) / 200'000, 0.05, 0.01);
  size_t bursts = 0;
  for (size_t i = 0; i < lost.size(); ++i)
    bursts += lost[i] && (i == 0 || !lost[i - 1]) ? 1 : 0;
  EXPECT_NEAR(static_cast<double>(s.lostInBursts) / bursts, 4.0, 0.5) << "mean burst length";
  EXPECT_GT(s.reordered, 10'000u);
}

TEST(LinkWeather, ThePolicerDropsWhatExceedsTheRate) {
  RatePolicer policer(8e6, 0.010);  // 1 MB/s, 10 kB at once
  LinkProfile profile;              // no loss, no delay
  LinkWeather link(profile, 1, &policer);
  const std::vector<uint8_t> datagram(1000);
  size_t out = 0;
  for (int64_t now = 0; now < 1'000'000; now += 500) {  // 2 MB/s for one second
    link.Arrive(datagram.data(), datagram.size(), now);
    link.Release(now, [&](const uint8_t*, size_t) { ++out; });
  }
  EXPECT_NEAR(static_cast<double>(out), 1010, 5) << "a second of the rate and one burst";
  EXPECT_EQ(link.stats().lostToRate + out, 2000u);
}

}  // namespace
}  // namespace Sorvane::receiver
