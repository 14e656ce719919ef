#include "sv-receiver/app/lip_sync_meter.h"

#include <algorithm>
#include <cstdlib>

#include "sv-host/sync_marks.h"

namespace Sorvane::receiver {
namespace {

constexpr int64_t kMatchWindowUs = 500000;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Slope of y over x as the median of the slopes between pairs of points (Theil-Sen): one late
// picture on a busy machine moves it far less than it moves a least-squares fit.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<double> slopes;
  const size_t step = std::max<size_t>(1, x.size() / 1000);  // bounded work on long soaks
  for (size_t i = 0; i < x.size(); i += step) {
    for (size_t j = i + step; j < x.size(); j += step) {
      if (x[j] != x[i])
        slopes.push_back((y[j] - y[i]) / (x[j] - x[i]));
    }
  }
  return slopes.empty() ? 0 : Median(std::move(slopes));
}

}  // namespace

void LipSyncMeter::OnPicture(const uint8_t* luma, int width, int height, int stride,
                             int64_t nowUs) {
  const bool lit = hostsim::ReadSyncMarker(luma, width, height, stride);
  std::lock_guard<std::mutex> lock(videoLock_);
  if (lit && !lastLit_)
    markers_.push_back(nowUs);
  lastLit_ = lit;
}

void LipSyncMeter::OnAudio(const float* interleaved, size_t frames, uint32_t channels,
                           uint32_t sampleRate, int64_t arrivalUs) {
  std::lock_guard<std::mutex> lock(audioLock_);
  clicks_.Push(interleaved, frames, channels, sampleRate, arrivalUs);
}

LipSyncReport LipSyncMeter::Report() const {
  std::vector<int64_t> markers, clicks;
  {
    std::lock_guard<std::mutex> lock(videoLock_);
    markers = markers_;
  }
  {
    std::lock_guard<std::mutex> lock(audioLock_);
    clicks = clicks_.clickTimesUs();
  }
  return Match(markers, clicks);
}

LipSyncReport LipSyncMeter::Match(const std::vector<int64_t>& markerUs,
                                  const std::vector<int64_t>& clickUs) {
  LipSyncReport report;
  report.markers = markerUs.size();
  report.clicks = clickUs.size();
  std::vector<bool> used(markerUs.size(), false);
  std::vector<double> minutes, offsetsMs;
  for (const int64_t click : clickUs) {
    size_t best = markerUs.size();
    for (size_t m = 0; m < markerUs.size(); ++m) {
      if (used[m] || std::llabs(click - markerUs[m]) > kMatchWindowUs)
        continue;
      if (best == markerUs.size() ||
          std::llabs(click - markerUs[m]) < std::llabs(click - markerUs[best])) {
        best = m;
      }
    }
    if (best == markerUs.size())
      continue;
    used[best] = true;
    minutes.push_back(static_cast<double>(markerUs[best] - markerUs.front()) / 60e6);
    offsetsMs.push_back(static_cast<double>(click - markerUs[best]) / 1000.0);
  }
  report.pairs = offsetsMs.size();
  if (offsetsMs.empty())
    return report;
  report.medianMs = Median(offsetsMs);
  report.minMs = *std::min_element(offsetsMs.begin(), offsetsMs.end());
  report.maxMs = *std::max_element(offsetsMs.begin(), offsetsMs.end());
  report.driftMsPerMinute = Slope(minutes, offsetsMs);
  return report;
}

}  // namespace Sorvane::receiver
