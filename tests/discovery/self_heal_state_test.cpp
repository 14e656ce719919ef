#include <gtest/gtest.h>

#include "discovery/self_heal_state.h"
#include "support/manual_clock.h"

namespace Sorvane {
namespace {

constexpr int64_t kMs = 1'000'000;

class SelfHealStateTest : public ::testing::Test {
 protected:
  void SetUp() override { state.Track("Studio._sorvane._tcp.local"); }
  // One complete browse round that reported `names`.
  void Round(const std::vector<std::string>& names) {
    state.BeginRound();
    if (!names.empty())
      state.NoteNames(names);
    state.EndRound();
  }

  test::ManualClock clock;
  SelfHealState state{clock};
};

TEST_F(SelfHealStateTest, OneRoundWithoutUsOnlyCountsTwoArm) {
  Round({"Other._sorvane._tcp.local"});
  EXPECT_TRUE(state.present());
  EXPECT_EQ(state.absentCount(), 1u);
  EXPECT_FALSE(state.TakeRepublishTurn());
  Round({"Other._sorvane._tcp.local", "Third._sorvane._tcp.local"});
  EXPECT_FALSE(state.present());
  EXPECT_EQ(state.absentCount(), 2u);
}

TEST_F(SelfHealStateTest, OurNameInAnyCaseResetsTheCount) {
  Round({"Other._sorvane._tcp.local"});
  Round({"Other._sorvane._tcp.local", "STUDIO._SORVANE._TCP.LOCAL"});
  EXPECT_EQ(state.absentCount(), 0u);
  Round({"Other._sorvane._tcp.local"});
  EXPECT_TRUE(state.present()) << "the reset means one more miss is again only a count";
  // Seen mid-round while absent: back at once, without waiting for the round to end.
  Round({"Other._sorvane._tcp.local"});
  ASSERT_FALSE(state.present());
  state.BeginRound();
  state.NoteNames({"studio._sorvane._tcp.local"});
  EXPECT_TRUE(state.present());
  EXPECT_FALSE(state.TakeRepublishTurn());
}

TEST_F(SelfHealStateTest, EmptyRoundsCountOnlyOnceARoundHasSeenUs) {
  for (int i = 0; i < 5; ++i)
    Round({});
  EXPECT_EQ(state.absentCount(), 0u) << "a system that never shows its own entry";
  EXPECT_TRUE(state.present());
  // A lone computer: its own entry is all there is, so a round without it is a miss.
  Round({"studio._sorvane._tcp.local."});
  Round({});
  EXPECT_EQ(state.absentCount(), 1u);
  Round({});
  EXPECT_FALSE(state.present());
}

TEST_F(SelfHealStateTest, OtherServicesOneCallbackAtATimeAreOneMissPerRound) {
  // Browse callbacks report one service each; many of them in one round are still one miss.
  state.BeginRound();
  state.NoteNames({"Other._sorvane._tcp.local"});
  state.NoteNames({"Third._sorvane._tcp.local"});
  state.NoteNames({"Fourth._sorvane._tcp.local"});
  EXPECT_TRUE(state.present());
  EXPECT_EQ(state.absentCount(), 0u) << "nothing counts before the round is complete";
  state.EndRound();
  EXPECT_EQ(state.absentCount(), 1u);
  EXPECT_TRUE(state.present());
  // Reports outside a round and a second EndRound count nothing.
  state.NoteNames({"Other._sorvane._tcp.local"});
  state.EndRound();
  EXPECT_EQ(state.absentCount(), 1u);
}

TEST_F(SelfHealStateTest, RepublishTurnsBackOffUntilOurEntryIsSeen) {
  Round({"Other._sorvane._tcp.local"});
  Round({"Other._sorvane._tcp.local"});
  ASSERT_FALSE(state.present());
  EXPECT_FALSE(state.TakeRepublishTurn()) << "armed just now";
  clock.Advance(1499 * kMs);
  EXPECT_FALSE(state.TakeRepublishTurn());
  clock.Advance(1 * kMs);
  EXPECT_TRUE(state.TakeRepublishTurn());
  EXPECT_FALSE(state.TakeRepublishTurn()) << "one turn per interval";
  // The attempts fail: the next comes 1.5 s later, the one after 3 s, ever longer.
  clock.Advance(1500 * kMs);
  EXPECT_TRUE(state.TakeRepublishTurn());
  clock.Advance(2999 * kMs);
  EXPECT_FALSE(state.TakeRepublishTurn());
  clock.Advance(1 * kMs);
  EXPECT_TRUE(state.TakeRepublishTurn());
  EXPECT_FALSE(state.FirstAttemptOfAbsence());
  // One took, under an adopted name, but was never seen: a new absence still waits its backoff.
  state.Track("Studio (2)._sorvane._tcp.local");
  Round({"Studio._sorvane._tcp.local"});  // the old name is someone else's now
  EXPECT_EQ(state.absentCount(), 1u);
  Round({"Studio._sorvane._tcp.local"});
  clock.Advance(1500 * kMs);
  EXPECT_FALSE(state.TakeRepublishTurn());
  // Seen again: back to the first wait.
  Round({"STUDIO (2)._sorvane._tcp.local"});
  Round({"Other._sorvane._tcp.local"});
  Round({"Other._sorvane._tcp.local"});
  clock.Advance(1500 * kMs);
  EXPECT_TRUE(state.TakeRepublishTurn());
  EXPECT_TRUE(state.FirstAttemptOfAbsence());
}

TEST_F(SelfHealStateTest, TrackForgetsTheOpenRoundsEvidence) {
  state.BeginRound();
  state.NoteNames({"Other._sorvane._tcp.local"});
  state.Track("Studio._sorvane._tcp.local");  // re-registered meanwhile
  state.EndRound();
  EXPECT_EQ(state.absentCount(), 0u);
}

TEST_F(SelfHealStateTest, LostEntryIsRepublishedAtTheNextTurn) {
  state.MarkLost();
  EXPECT_FALSE(state.present());
  EXPECT_TRUE(state.TakeRepublishTurn());
  EXPECT_FALSE(state.TakeRepublishTurn());
  // Lost again before it was seen: the backoff holds, unless the daemon came back afresh.
  state.Track("Studio._sorvane._tcp.local");
  state.MarkLost();
  EXPECT_FALSE(state.TakeRepublishTurn());
  state.MarkLost(/*afresh=*/true);
  EXPECT_TRUE(state.TakeRepublishTurn());
}

TEST_F(SelfHealStateTest, RoundsListenTheirWindowAndANetworkChangeBringsOneSoon) {
  using Action = SelfHealState::RoundAction;
  state.BeginRound();
  clock.Advance(SelfHealState::kRoundWindowNs - 1);
  EXPECT_EQ(state.NextRoundAction(), Action::kNone);
  clock.Advance(1);
  EXPECT_EQ(state.NextRoundAction(), Action::kEnd);
  // A network change: the open round counts nothing, the next one follows after a short settle.
  state.NoteNames({"Other._sorvane._tcp.local"});
  state.NetworkChanged();
  EXPECT_FALSE(state.RoundOpen());
  EXPECT_EQ(state.absentCount(), 0u);
  EXPECT_EQ(state.NextRoundAction(), Action::kNone);
  clock.Advance(SelfHealState::kNetworkSettleNs);
  EXPECT_EQ(state.NextRoundAction(), Action::kBegin);
}

TEST_F(SelfHealStateTest, ForgottenStateIgnoresEverything) {
  state.Forget();
  Round({"Other._sorvane._tcp.local"});
  Round({"Other._sorvane._tcp.local"});
  state.MarkLost();
  EXPECT_TRUE(state.present());
  EXPECT_FALSE(state.TakeRepublishTurn());
  EXPECT_EQ(state.ourName(), "");
}

}  // namespace
}  // namespace Sorvane
