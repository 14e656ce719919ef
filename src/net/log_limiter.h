#pragma once
#include <atomic>
#include <cstdint>

#include "base/clock.h"

namespace Sorvane {

// Lets one line through per spacing and counts the ones it held back, so a failure that repeats
// thousands of times a second leaves a line a second that says how many it stands for.
class LogLimiter {
 public:
  LogLimiter(const Clock& clock, int64_t spacingNs) : clock_(clock), spacingNs_(spacingNs) {}

  // True when this occurrence should be logged; `held` then says how many were not since the last.
  bool Admit(uint64_t* held) {
    const int64_t now = clock_.NowNs();
    int64_t last = lastNs_.load();
    if (!never_.load() && now - last < spacingNs_) {
      held_.fetch_add(1);
      return false;
    }
    if (!lastNs_.compare_exchange_strong(last, now)) {
      held_.fetch_add(1);
      return false;
    }
    never_.store(false);
    *held = held_.exchange(0);
    return true;
  }

 private:
  const Clock& clock_;
  const int64_t spacingNs_;
  std::atomic<bool> never_{true};
  std::atomic<int64_t> lastNs_{0};
  std::atomic<uint64_t> held_{0};
};

}  // namespace Sorvane
