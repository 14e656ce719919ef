#pragma once
#include <atomic>

#include "base/clock.h"

namespace Sorvane::test {

// A clock that moves only when told to; sleeping advances it.
class ManualClock final : public Clock {
 public:
  int64_t NowNs() const override { return now_.load(); }
  void SleepForNs(int64_t ns) const override {
    if (ns > 0)
      now_.fetch_add(ns);
  }
  void Advance(int64_t ns) { now_.fetch_add(ns); }

 private:
  mutable std::atomic<int64_t> now_{1'000'000'000};
};

}  // namespace Sorvane::test
