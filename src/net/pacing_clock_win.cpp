#include <windows.h>

#include "diag/log_channels.h"
#include "net/pacing_clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace Sorvane {
namespace {

// One timer per sleeping thread; closed when the thread ends.
class ThreadTimer {
 public:
  ThreadTimer() {
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
    precise_ = timer_ != nullptr;
    if (timer_ == nullptr)  // before Windows 10 1803 (and under Wine): a tick-grained timer
      timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    Log(channels::kPacer, kLogInfo, "pacing sleeps use a %s waitable timer%s",
        precise_ ? "high-resolution" : "standard", timer_ == nullptr ? " (none: Sleep)" : "");
  }
  ~ThreadTimer() {
    if (timer_ != nullptr)
      CloseHandle(timer_);
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  void Sleep(int64_t ns) {
    LARGE_INTEGER due;
    due.QuadPart = -((ns + 99) / 100);  // relative, in 100 ns units
    if (timer_ == nullptr || !SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
      ::Sleep(static_cast<DWORD>((ns + 999'999) / 1'000'000));
      return;
    }
    WaitForSingleObject(timer_, INFINITE);
  }

 private:
  HANDLE timer_ = nullptr;
  bool precise_ = false;
};

class PreciseSleepClock final : public Clock {
 public:
  int64_t NowNs() const override { return SteadyNowNs(); }
  void SleepForNs(int64_t ns) const override {
    if (ns <= 0)
      return;
    thread_local ThreadTimer timer;
    timer.Sleep(ns);
  }
};

}  // namespace

const Clock& PacingClock() {
  static const PreciseSleepClock clock;
  return clock;
}

}  // namespace Sorvane
