#include "base/clock.h"

#include <chrono>
#include <thread>

namespace Sorvane {
namespace {

class SteadyClockImpl final : public Clock {
 public:
  int64_t NowNs() const override { return SteadyNowNs(); }
  void SleepForNs(int64_t ns) const override {
    if (ns > 0)
      std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
  }
};

}  // namespace

const Clock& SteadyClock() {
  static const SteadyClockImpl clock;
  return clock;
}

int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace Sorvane
