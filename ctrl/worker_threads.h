#pragma once
#include <cstdint>
#include <functional>

namespace Sorvane::ctrl {

// Wakes the plug-in's own threads when Shutdown wants them gone.
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits about `ns` nanoseconds; false as soon as a stop was asked for.
  virtual bool SleepFor(int64_t ns) const = 0;
};

// The plug-in's poll and warm-up threads. Shutdown stops and joins them all, so none outlives
// the module.
using WorkerBody = std::function<void(const StopSignal&)>;
bool StartWorker(WorkerBody body);
void StopAndJoinWorkers();

}  // namespace Sorvane::ctrl
