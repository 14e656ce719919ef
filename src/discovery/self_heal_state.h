#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/thread_annotations.h"

namespace Sorvane {

// Decides when our advertisement has gone missing from the network and when to publish it again.
// Evidence comes in browse rounds that the advertiser restarts: a round that reported other
// services but not ours counts a miss, two misses in a row arm a re-publish, and while we stay
// absent a re-publish is due every 1.5 s. Rounds that reported nothing say nothing about us.
// Thread-safe; browse callbacks may call in on any thread. Takes only its own browse lock, so it
// may be called with the advertiser's main lock held.
class SelfHealState {
 public:
  static constexpr int64_t kRepublishIntervalNs = 1'500'000'000;
  static constexpr int64_t kRoundLengthNs = 5'000'000'000;
  static constexpr uint32_t kMissesToArm = 2;

  explicit SelfHealState(const Clock& clock) : clock_(clock) {}

  // Our instance is registered as `name` and present; forgets the current round's evidence.
  void Track(const std::string& name);
  // Nothing is ours any more: every report is ignored until the next Track.
  void Forget();

  // A new browse round starts now; names reported until EndRound belong to it.
  void BeginRound();
  // Names one browse callback reported. Our name, in any letter case, makes us present at once.
  void NoteNames(const std::vector<std::string>& names);
  // Closes the open round (if any) and counts a miss when it saw others but not us.
  void EndRound();
  // The open round has run its length, or no round is open.
  bool RoundDue() const;

  // Our entry is known to be gone (daemon restarted, entry failed): re-publish at the next turn.
  void MarkLost();
  // True when a re-publish is due now; the next one then follows 1.5 s later unless we reappear.
  bool TakeRepublishTurn();

  std::string ourName() const;
  bool present() const;
  uint32_t absentCount() const;

 private:
  void MarkPresentLocked() REQUIRES(browseLock_);
  void CountMissLocked() REQUIRES(browseLock_);

  const Clock& clock_;
  mutable std::mutex browseLock_;
  std::string ourName_ GUARDED_BY(browseLock_);
  bool present_ GUARDED_BY(browseLock_) = true;
  uint32_t absentCount_ GUARDED_BY(browseLock_) = 0;
  int64_t armedAtNs_ GUARDED_BY(browseLock_) = 0;
  bool roundOpen_ GUARDED_BY(browseLock_) = false;
  int64_t roundStartedNs_ GUARDED_BY(browseLock_) = 0;
  bool roundSawOthers_ GUARDED_BY(browseLock_) = false;
  bool roundSawUs_ GUARDED_BY(browseLock_) = false;
};

}  // namespace Sorvane
