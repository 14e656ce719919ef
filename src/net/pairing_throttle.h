#pragma once
#include <cstdint>
#include <mutex>

#include "base/clock.h"
#include "base/thread_annotations.h"

namespace Sorvane {

// Keeps a device on the network from guessing the six-digit code by reconnecting forever: after
// five consecutive wrong codes new code challenges are refused for 30 s, doubling with every
// further wrong code up to an hour. A successful pairing starts over.
// Pairing dialogs have a budget of their own, so hellos without a token cannot open dialogs
// without end: five at once, then one more every 10 s. It refills by itself, so abandoned dialogs
// never lock a real user out the way wrong codes do.
class PairingThrottle {
 public:
  explicit PairingThrottle(const Clock& clock) : clock_(clock), dialogRefillNs_(clock.NowNs()) {}

  // Nanoseconds until a code challenge may be issued again (0 = now).
  int64_t RemainingLockoutNs() const;
  uint32_t ConsecutiveWrongCodes() const;
  void RecordWrongCode();
  void RecordSuccess();
  // Takes one dialog from the budget; false (and the wait until the next one) when it is empty.
  bool TakeDialog(int64_t* waitNs);

  static constexpr uint32_t kFreeAttempts = 5;
  static constexpr int64_t kDialogBurst = 5;
  static constexpr int64_t kDialogRefillNs = 10'000'000'000;
  static constexpr int64_t kFirstLockoutNs = 30'000'000'000;
  static constexpr int64_t kMaxLockoutNs = 3'600'000'000'000;

 private:
  const Clock& clock_;
  mutable std::mutex lock_;
  uint32_t consecutiveWrong_ GUARDED_BY(lock_) = 0;
  int64_t lockedUntilNs_ GUARDED_BY(lock_) = 0;
  int64_t dialogs_ GUARDED_BY(lock_) = kDialogBurst;
  int64_t dialogRefillNs_ GUARDED_BY(lock_);  // when the budget last gained a dialog
};

}  // namespace Sorvane
