#pragma once
#include <cstdint>

namespace Sorvane {

// Monotonic time source. Time-dependent logic (pacing, debounces, heartbeats, polls) reads the
// clock through this seam so tests can drive time instead of sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  // Nanoseconds on a monotonic time line; only differences are meaningful.
  virtual int64_t NowNs() const = 0;
  // Blocks the calling thread for about `ns` nanoseconds (a manual clock advances instead).
  virtual void SleepForNs(int64_t ns) const = 0;
};

// The process's steady clock.
const Clock& SteadyClock();

// Steady-clock nanoseconds, for code that has no reason to be driven by tests.
int64_t SteadyNowNs();

}  // namespace Sorvane
