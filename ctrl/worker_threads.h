#pragma once
#include <cstdint>
#include <functional>

#include "diag/thread_guard.h"

namespace Sorvane::ctrl {

// Wakes the plug-in's own threads when Shutdown wants them gone.
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits about `ns` nanoseconds; false as soon as a stop was asked for.
  virtual bool SleepFor(int64_t ns) const = 0;
};

// The plug-in's poll, warm-up and nudge threads. Shutdown stops and joins them all. Each body
// runs behind `guard` (one per kind of worker): an exception ends that worker, not the host.
using WorkerBody = std::function<void(const StopSignal&)>;
bool StartWorker(ThreadGuard& guard, WorkerBody body);
void StopAndJoinWorkers();

}  // namespace Sorvane::ctrl
