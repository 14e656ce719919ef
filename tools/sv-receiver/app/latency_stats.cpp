#include "sv-receiver/app/latency_stats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Sorvane::receiver {

double LatencyStats::Percentile(double p) const {
  if (samples_.empty())
    return 0;
  std::vector<double> sorted = samples_;
  std::sort(sorted.begin(), sorted.end());
  const double rank = std::ceil(std::clamp(p, 0.0, 100.0) / 100.0 * sorted.size());
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

double LatencyStats::Mean() const {
  if (samples_.empty())
    return 0;
  return std::accumulate(samples_.begin(), samples_.end(), 0.0) / samples_.size();
}

}  // namespace Sorvane::receiver
