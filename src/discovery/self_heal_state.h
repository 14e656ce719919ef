#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/thread_annotations.h"

namespace Sorvane {

// Decides when our advertisement has gone missing from the network, when to publish it again and
// when to browse. Evidence comes in browse rounds: a round listens for a while and ends; a round
// that reported other services but not ours counts a miss, and so does a round that reported
// nothing once earlier rounds have seen us (a lone computer's own entry is all there is to see).
// Two misses in a row arm a re-publish. Rounds are spaced ever wider while all is well, and closer
// again after a miss or a network change; re-publish attempts back off while the entry stays
// unseen. Thread-safe; browse callbacks may call in on any thread. Takes only its own browse lock,
// so it may be called with the advertiser's main lock held.
class SelfHealState {
 public:
  static constexpr int64_t kSecondNs = 1'000'000'000;
  static constexpr int64_t kRoundWindowNs = 5 * kSecondNs;  // how long one round listens
  static constexpr int64_t kFirstRoundSpacingNs = 5 * kSecondNs;
  static constexpr int64_t kMaxRoundSpacingNs = 600 * kSecondNs;
  static constexpr int64_t kNetworkSettleNs = 2 * kSecondNs;
  static constexpr int64_t kFirstRepublishDelayNs = 1'500'000'000;
  static constexpr int64_t kMaxRepublishDelayNs = 300 * kSecondNs;
  static constexpr uint32_t kMissesToArm = 2;

  enum class RoundAction { kNone, kEnd, kBegin };

  explicit SelfHealState(const Clock& clock) : clock_(clock) {}

  // Our instance is registered as `name` and present; forgets the open round's evidence and wants
  // a round at once, to see the entry on the wire.
  void Track(const std::string& name);
  // Nothing is ours any more: every report is ignored until the next Track. Backoffs start over.
  void Forget();

  // A new browse round starts now; names reported until EndRound belong to it.
  void BeginRound();
  // Names one browse callback reported. Our name, however spelled, makes us present at once.
  void NoteNames(const std::vector<std::string>& names);
  // Closes the open round (if any), counting a miss when it saw others but not us, or nothing
  // after rounds that saw us.
  void EndRound();
  // Closes the open round without counting it: its browse failed, so it says nothing about us.
  void AbandonRound();
  // What the browse should do now: end a round that has listened long enough, or begin one.
  RoundAction NextRoundAction() const;
  bool RoundOpen() const;

  // An interface gained or lost an address: what earlier rounds saw may no longer hold.
  void NetworkChanged();

  // Our entry is known to be gone (entry failed): re-publish at the next turn, unless attempts
  // that never showed up make it wait its backoff. `afresh` (the daemon is back) starts the
  // backoff over, since what kept failing may have been the daemon's absence.
  void MarkLost(bool afresh = false);
  // A registration attempt outside the self-heal's own turns failed: absent, retried with backoff.
  void MarkRegistrationFailed();
  // True when a re-publish is due now. The next attempt waits longer each time, up to 5 minutes,
  // until our entry is seen on the wire again.
  bool TakeRepublishTurn();
  // Whether the re-publish just taken is the first since our entry was last seen.
  bool FirstAttemptOfAbsence() const;

  std::string ourName() const;
  bool present() const;
  uint32_t absentCount() const;
  int64_t roundSpacingNs() const;

 private:
  void MarkPresentLocked() REQUIRES(browseLock_);
  void CountMissLocked() REQUIRES(browseLock_);
  void AbsentLocked(int64_t earliestRepublishNs) REQUIRES(browseLock_);
  void TakeTurnLocked(int64_t now) REQUIRES(browseLock_);
  // Closes the open round and schedules the next, `spacingNs` after this one began.
  void CloseRoundLocked(int64_t spacingNs) REQUIRES(browseLock_);
  void WidenSpacingLocked() REQUIRES(browseLock_);

  const Clock& clock_;
  mutable std::mutex browseLock_;
  std::string ourName_ GUARDED_BY(browseLock_);
  bool present_ GUARDED_BY(browseLock_) = true;
  bool seenUs_ GUARDED_BY(browseLock_) = false;  // some round has reported our entry
  uint32_t absentCount_ GUARDED_BY(browseLock_) = 0;

  bool roundOpen_ GUARDED_BY(browseLock_) = false;
  int64_t roundStartedNs_ GUARDED_BY(browseLock_) = 0;
  bool roundSawOthers_ GUARDED_BY(browseLock_) = false;
  bool roundSawUs_ GUARDED_BY(browseLock_) = false;
  int64_t nextRoundNs_ GUARDED_BY(browseLock_) = 0;
  int64_t roundSpacingNs_ GUARDED_BY(browseLock_) = kFirstRoundSpacingNs;

  int64_t nextRepublishNs_ GUARDED_BY(browseLock_) = 0;
  int64_t republishDelayNs_ GUARDED_BY(browseLock_) = kFirstRepublishDelayNs;
  uint32_t turnsSinceSeen_ GUARDED_BY(browseLock_) = 0;
};

}  // namespace Sorvane
