#include "sv-receiver/app/preview_meter.h"

#include <algorithm>
#include <vector>

namespace Sorvane::receiver {

void RollingMeter::OnPicture(int64_t nowNs, std::optional<double> latencyMs) {
  samples_.push_back({nowNs, latencyMs});
  Forget(nowNs);
}

void RollingMeter::Forget(int64_t nowNs) {
  while (!samples_.empty() && samples_.front().atNs <= nowNs - windowNs_)
    samples_.pop_front();
}

PreviewReadings RollingMeter::Read(int64_t nowNs) {
  Forget(nowNs);
  PreviewReadings readings;
  readings.fps = static_cast<double>(samples_.size()) * 1e9 / static_cast<double>(windowNs_);
  std::vector<double> latencies;
  for (const Sample& s : samples_) {
    if (s.latencyMs)
      latencies.push_back(*s.latencyMs);
  }
  if (!latencies.empty()) {
    const auto middle = latencies.begin() + static_cast<std::ptrdiff_t>(latencies.size() / 2);
    std::nth_element(latencies.begin(), middle, latencies.end());
    double median = *middle;
    if (latencies.size() % 2 == 0)
      median = (median + *std::max_element(latencies.begin(), middle)) / 2;
    readings.latencyMedianMs = median;
  }
  return readings;
}

}  // namespace Sorvane::receiver
