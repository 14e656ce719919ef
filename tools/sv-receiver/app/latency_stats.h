#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Sorvane::receiver {

// Samples of a latency (microseconds) and their percentiles.
class LatencyStats {
 public:
  void Add(double valueUs) { samples_.push_back(valueUs); }
  size_t count() const { return samples_.size(); }
  // The p-th percentile (0..100, nearest rank); 0 when empty.
  double Percentile(double p) const;
  double Mean() const;

 private:
  std::vector<double> samples_;
};

}  // namespace Sorvane::receiver
