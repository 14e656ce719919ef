#pragma once
#include <cstdint>
#include <deque>
#include <optional>

namespace Sorvane::receiver {

struct PreviewReadings {
  double fps = 0;                         // pictures decoded in the last window, per second
  std::optional<double> latencyMedianMs;  // push → decoded, median over the same window
};

// Decoded pictures of the last second (by default), for the preview's status line.
class RollingMeter {
 public:
  explicit RollingMeter(int64_t windowNs = 1'000'000'000) : windowNs_(windowNs) {}
  // One decoded picture at `nowNs`, with its push → decoded latency when its stamp was read.
  void OnPicture(int64_t nowNs, std::optional<double> latencyMs);
  PreviewReadings Read(int64_t nowNs);

 private:
  struct Sample {
    int64_t atNs;
    std::optional<double> latencyMs;
  };
  void Forget(int64_t nowNs);

  int64_t windowNs_;
  std::deque<Sample> samples_;
};

}  // namespace Sorvane::receiver
