#include "sv-receiver/app/recovery_summary.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Sorvane::receiver {
namespace {

double Ms(int64_t us) {
  return static_cast<double>(us) / 1000.0;
}

// Median and largest of the times from a loss to the keyframe that ended it.
std::pair<double, double> MedianAndMaxMs(std::vector<int64_t> samples) {
  if (samples.empty())
    return {0, 0};
  std::sort(samples.begin(), samples.end());
  return {Ms(samples[samples.size() / 2]), Ms(samples.back())};
}

}  // namespace

void Recovery(JsonWriter& json, const RecoveryFacts& f) {
  const LossRecovery::Stats& r = f.recovery;
  const auto [median, largest] = MedianAndMaxMs(r.lossToKeyframeUs);
  json.BeginObject("recovery")
      .Value("framesExpected", r.Expected())
      .Value("framesShown", r.shown)
      .Value("decodedShare", r.ShownShare())
      .Value("framesLost", r.lost)
      .Value("framesSkippedAwaitingKeyframe", r.skipped)
      .Value("framesNotDecoded", r.failed)
      .Value("framesLate", f.ordering.late)
      .Value("idrRequests", r.keyframeRequests)
      .Value("longestFreezeMs", Ms(r.longestFreezeUs))
      .Value("longestGapMs", Ms(r.longestGapUs))
      .Value("lossToKeyframeMedianMs", median)
      .Value("lossToKeyframeMaxMs", largest);
  json.BeginArray("lossToKeyframeMs");
  for (int64_t us : r.lossToKeyframeUs)
    json.Value(nullptr, Ms(us));
  json.EndArray();
  json.Value("foreignDatagrams", f.foreignDatagrams).EndObject();
  if (!f.link)
    return;
  json.BeginObject("link")
      .Value("profile", DescribeLinkProfile(*f.link))
      .Value("datagramsArrived", f.weather.arrived)
      .Value("lostInBursts", f.weather.lostInBursts)
      .Value("lostToRate", f.weather.lostToRate)
      .Value("delivered", f.weather.delivered)
      .Value("reordered", f.weather.reordered)
      .EndObject();
}

std::string RecoveryText(const RecoveryFacts& f) {
  const LossRecovery::Stats& r = f.recovery;
  const auto [median, largest] = MedianAndMaxMs(r.lossToKeyframeUs);
  char text[768];
  int n = std::snprintf(
      text, sizeof text,
      "phone view: decoded %.2f %% of %llu frames; %llu lost, %llu skipped awaiting a keyframe, "
      "%llu not decoded; %llu IDR requests; longest freeze %.0f ms; loss → keyframe median "
      "%.0f ms, max %.0f ms\n",
      100.0 * r.ShownShare(), static_cast<unsigned long long>(r.Expected()),
      static_cast<unsigned long long>(r.lost), static_cast<unsigned long long>(r.skipped),
      static_cast<unsigned long long>(r.failed),
      static_cast<unsigned long long>(r.keyframeRequests), Ms(r.longestFreezeUs), median, largest);
  if (f.link && n > 0 && static_cast<size_t>(n) < sizeof text) {
    const double arrived = std::max<double>(1, static_cast<double>(f.weather.arrived));
    std::snprintf(text + n, sizeof text - n,
                  "link %s — took %.2f %% in bursts and %.2f %% to the rate, reordered %llu\n",
                  DescribeLinkProfile(*f.link).c_str(), 100.0 * f.weather.lostInBursts / arrived,
                  100.0 * f.weather.lostToRate / arrived,
                  static_cast<unsigned long long>(f.weather.reordered));
  }
  return text;
}

}  // namespace Sorvane::receiver
