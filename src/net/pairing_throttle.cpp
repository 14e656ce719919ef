#include "net/pairing_throttle.h"

#include <algorithm>

namespace Sorvane {

int64_t PairingThrottle::RemainingLockoutNs() const {
  std::lock_guard<std::mutex> lock(lock_);
  return std::max<int64_t>(0, lockedUntilNs_ - clock_.NowNs());
}

uint32_t PairingThrottle::ConsecutiveWrongCodes() const {
  std::lock_guard<std::mutex> lock(lock_);
  return consecutiveWrong_;
}

void PairingThrottle::RecordWrongCode() {
  std::lock_guard<std::mutex> lock(lock_);
  ++consecutiveWrong_;
  if (consecutiveWrong_ < kFreeAttempts)
    return;
  int64_t lockout = kFirstLockoutNs;
  for (uint32_t i = kFreeAttempts; i < consecutiveWrong_ && lockout < kMaxLockoutNs; ++i) {
    lockout *= 2;
  }
  lockedUntilNs_ = clock_.NowNs() + std::min(lockout, kMaxLockoutNs);
}

bool PairingThrottle::TakeDialog(int64_t* waitNs) {
  std::lock_guard<std::mutex> lock(lock_);
  const int64_t now = clock_.NowNs();
  const int64_t earned = (now - dialogRefillNs_) / kDialogRefillNs;
  if (dialogs_ + earned >= kDialogBurst) {
    dialogs_ = kDialogBurst;
    dialogRefillNs_ = now;
  } else if (earned > 0) {
    dialogs_ += earned;
    dialogRefillNs_ += earned * kDialogRefillNs;
  }
  if (dialogs_ == 0) {
    *waitNs = dialogRefillNs_ + kDialogRefillNs - now;
    return false;
  }
  --dialogs_;
  *waitNs = 0;
  return true;
}

void PairingThrottle::RecordSuccess() {
  std::lock_guard<std::mutex> lock(lock_);
  consecutiveWrong_ = 0;
  lockedUntilNs_ = 0;
}

}  // namespace Sorvane
