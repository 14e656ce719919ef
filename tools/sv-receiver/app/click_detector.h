#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Sorvane::receiver {

// Finds the starts of the lip-sync clicks (a 1 kHz burst) in the received sound. The 1 kHz
// component is measured over a sliding window of four cycles; a click starts half a window
// before that measure crosses half the click's level. Each start is timed by the arrival of the
// packet that carried it, as if packets were played the moment they arrive.
class ClickDetector {
 public:
  // `interleaved` holds `frames` samples of `channels` channels; the first channel is read.
  void Push(const float* interleaved, size_t frames, uint32_t channels, uint32_t sampleRate,
            int64_t arrivalUs);
  // Start times (microseconds, the arrival clock) of the clicks found so far.
  const std::vector<int64_t>& clickTimesUs() const { return clicks_; }

 private:
  struct PacketStart {
    uint64_t firstSample;
    uint32_t sampleRate;
    int64_t arrivalUs;
  };
  void Reset(uint32_t sampleRate);
  void OnSample(float x);
  int64_t TimeOfSample(uint64_t sample) const;

  uint32_t sampleRate_ = 0;
  size_t window_ = 0;
  std::vector<double> inPhase_, quadrature_;  // the window's products, a ring
  double sumI_ = 0, sumQ_ = 0;
  uint64_t samples_ = 0;  // samples seen at this rate
  bool armed_ = true;
  std::deque<PacketStart> packets_;
  std::vector<int64_t> clicks_;
};

}  // namespace Sorvane::receiver
