#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "sv-receiver/app/click_detector.h"

namespace Sorvane::receiver {

// Audio minus video at the receiver, over the run's matched marker/click pairs.
struct LipSyncReport {
  uint64_t markers = 0;
  uint64_t clicks = 0;
  uint64_t pairs = 0;
  double medianMs = 0, minMs = 0, maxMs = 0;
  double driftMsPerMinute = 0;  // the offset's slope over the run (median of pairwise slopes)
};

// Watches decoded pictures for the lip-sync marker and the sound for its click, and matches each
// click with the marker nearest in time (within half a second: marks come once a second).
// Pictures and sound arrive on different threads.
class LipSyncMeter {
 public:
  void OnPicture(const uint8_t* luma, int width, int height, int stride, int64_t nowUs);
  void OnAudio(const float* interleaved, size_t frames, uint32_t channels, uint32_t sampleRate,
               int64_t arrivalUs);
  LipSyncReport Report() const;

  // The matching itself, for given event times (microseconds).
  static LipSyncReport Match(const std::vector<int64_t>& markerUs,
                             const std::vector<int64_t>& clickUs);

 private:
  mutable std::mutex videoLock_;  // guards markers_ and lastLit_
  std::vector<int64_t> markers_;
  bool lastLit_ = false;
  mutable std::mutex audioLock_;  // guards clicks_
  ClickDetector clicks_;
};

}  // namespace Sorvane::receiver
