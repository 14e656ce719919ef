#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "base/clock.h"

namespace Sorvane::test {

// A clock that only the test moves. Threads that sleep on it wait until the test has advanced it
// past their wake-up time, and the test can wait until they are all asleep again: a sync point
// after which a clocked thread has done everything the time it was given asked of it.
class SteppedClock final : public Clock {
 public:
  int64_t NowNs() const override {
    std::lock_guard<std::mutex> lock(lock_);
    return now_;
  }
  void SleepForNs(int64_t ns) const override {
    std::unique_lock<std::mutex> lock(lock_);
    if (released_ || ns <= 0)
      return;
    const int64_t target = now_ + ns;
    const auto entry = sleepers_.insert(target);
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_ || now_ >= target; });
    sleepers_.erase(entry);
    changed_.notify_all();
  }
  void Advance(int64_t ns) {
    std::lock_guard<std::mutex> lock(lock_);
    now_ += ns;
    changed_.notify_all();
  }
  // Waits until `count` threads sleep towards a time still ahead (each has finished what the
  // time so far asked of it); false after `timeoutMs` of real time.
  bool WaitForSleepers(size_t count, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      return static_cast<size_t>(std::distance(sleepers_.upper_bound(now_), sleepers_.end())) >=
             count;
    });
  }
  // Until Hold, nobody sleeps: lets threads that wait on the clock see a Stop and end.
  void Release() {
    std::lock_guard<std::mutex> lock(lock_);
    released_ = true;
    changed_.notify_all();
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(lock_);
    released_ = false;
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  int64_t now_ = 1'000'000'000;
  bool released_ = false;
  mutable std::multiset<int64_t> sleepers_;
};

}  // namespace Sorvane::test
