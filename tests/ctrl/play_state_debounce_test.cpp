#include <gtest/gtest.h>

#include "ctrl/play_state_poll.h"

namespace Sorvane::ctrl {
namespace {

constexpr int64_t kMs = 1'000'000;

// Feeds one state per 100 ms poll; returns what got published, in order.
std::vector<bool> Feed(PlayStateDebouncer& d, const std::vector<bool>& polls, int64_t* now) {
  std::vector<bool> published;
  for (bool playing : polls) {
    if (const auto p = d.Observe(playing, *now))
      published.push_back(*p);
    *now += 100 * kMs;
  }
  return published;
}

TEST(PlayStateDebounce, FirstPollPublishesEvenWhenStopped) {
  PlayStateDebouncer d;
  int64_t now = 0;
  EXPECT_EQ(Feed(d, {false, false, false}, &now), std::vector<bool>{false});
}

TEST(PlayStateDebounce, ShortPlayIsNeverReported) {
  PlayStateDebouncer d;
  int64_t now = 0;
  // 0 → 1 → 0 within 200 ms.
  EXPECT_EQ(Feed(d, {false, true, true, false, false}, &now), std::vector<bool>{false});
}

TEST(PlayStateDebounce, PlayHeldFor400MsIsReportedOnce) {
  PlayStateDebouncer d;
  int64_t now = 0;
  EXPECT_EQ(Feed(d, {false, true, true, true, true, true, true, true}, &now),
            (std::vector<bool>{false, true}));
}

TEST(PlayStateDebounce, StopIsReportedAtOnce) {
  PlayStateDebouncer d;
  int64_t now = 0;
  Feed(d, {true}, &now);
  EXPECT_EQ(d.Observe(false, now), std::optional<bool>(false));
}

TEST(PlayStateDebounce, RiseTimerRestartsAfterAFlicker) {
  PlayStateDebouncer d;
  int64_t now = 0;
  // Two short rises separated by a stop: neither held 300 ms on its own.
  EXPECT_EQ(Feed(d, {false, true, true, false, true, true, true, false}, &now),
            std::vector<bool>{false});
}

}  // namespace
}  // namespace Sorvane::ctrl
