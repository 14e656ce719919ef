#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "base/thread_annotations.h"

namespace Sorvane {

// A failure line that could repeat with every frame (a lost device fails them all): written at
// most once a second, saying how many were left out since it was last written.
class RepeatingLine {
 public:
  explicit RepeatingLine(const Clock& clock = SteadyClock()) : clock_(clock) {}
  RepeatingLine(const RepeatingLine&) = delete;
  RepeatingLine& operator=(const RepeatingLine&) = delete;

  // True when the line is due; `note` then gets " (N more since the last one)", or nothing when
  // none were left out.
  bool Due(std::string* note);

 private:
  const Clock& clock_;
  std::mutex lock_;
  bool written_ GUARDED_BY(lock_) = false;
  int64_t writtenAtNs_ GUARDED_BY(lock_) = 0;
  uint32_t leftOut_ GUARDED_BY(lock_) = 0;
};

}  // namespace Sorvane
