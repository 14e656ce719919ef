#include <gtest/gtest.h>

#include "net/transmit_state_debounce.h"

namespace Sorvane {
namespace {

// Polls `n` times with the same activity; how many edges came out.
int PollTimes(TransmitStateDebounce& state, bool active, int n) {
  int edges = 0;
  for (int i = 0; i < n; ++i)
    edges += state.Poll(active).has_value() ? 1 : 0;
  return edges;
}

TEST(TransmitStateDebounce, ActivityIsReportedAtOnceAndOnlyOnce) {
  TransmitStateDebounce state;
  EXPECT_EQ(PollTimes(state, false, 5), 0) << "inactive stays unreported while already inactive";
  const auto edge = state.Poll(true);
  ASSERT_TRUE(edge);
  EXPECT_TRUE(edge->active);
  EXPECT_TRUE(state.Active());
  EXPECT_EQ(PollTimes(state, true, 5), 0);
}

TEST(TransmitStateDebounce, InactivityNeedsThreePollsInARow) {
  TransmitStateDebounce state;
  state.Reset(true);
  EXPECT_EQ(PollTimes(state, false, 2), 0);
  EXPECT_TRUE(state.Active()) << "two inactive polls are a pause, not a stop";
  const auto edge = state.Poll(false);
  ASSERT_TRUE(edge);
  EXPECT_FALSE(edge->active);
  EXPECT_EQ(edge->inactivePolls, 3);
  EXPECT_FALSE(state.Active());
  EXPECT_EQ(PollTimes(state, false, 5), 0);
}

TEST(TransmitStateDebounce, AnActivePollStartsTheCountOver) {
  TransmitStateDebounce state;
  state.Reset(true);
  EXPECT_EQ(PollTimes(state, false, 2), 0);
  EXPECT_EQ(PollTimes(state, true, 1), 0) << "still active: nothing to report";
  EXPECT_EQ(PollTimes(state, false, 2), 0) << "the earlier two inactive polls no longer count";
  EXPECT_TRUE(state.Poll(false));
}

TEST(TransmitStateDebounce, ResetDropsAHalfCountedPause) {
  TransmitStateDebounce state;
  state.Reset(true);
  EXPECT_EQ(PollTimes(state, false, 2), 0);
  state.Reset(true);  // a new phone was just told "active"
  EXPECT_EQ(PollTimes(state, false, 2), 0);
  EXPECT_TRUE(state.Poll(false));
  state.Reset(false);
  const auto edge = state.Poll(true);
  ASSERT_TRUE(edge) << "reset to inactive: the next active poll is an edge";
  EXPECT_TRUE(edge->active);
}

}  // namespace
}  // namespace Sorvane
