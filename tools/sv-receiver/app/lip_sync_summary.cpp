#include "sv-receiver/app/lip_sync_summary.h"

#include <cstdio>

namespace Sorvane::receiver {

void LipSync(JsonWriter& json, const LipSyncReport& r) {
  json.BeginObject("lipSync")
      .Value("markers", r.markers)
      .Value("clicks", r.clicks)
      .Value("pairs", r.pairs)
      .Value("audioMinusVideoMedianMs", r.medianMs)
      .Value("audioMinusVideoMinMs", r.minMs)
      .Value("audioMinusVideoMaxMs", r.maxMs)
      .Value("driftMsPerMinute", r.driftMsPerMinute)
      .EndObject();
}

std::string LipSyncText(const LipSyncReport& r) {
  char text[256];
  if (r.pairs == 0) {
    std::snprintf(
        text, sizeof text, "lip sync: no marker/click pairs (%llu markers, %llu clicks)\n",
        static_cast<unsigned long long>(r.markers), static_cast<unsigned long long>(r.clicks));
  } else {
    std::snprintf(text, sizeof text,
                  "lip sync: audio minus video median %.1f ms (min %.1f, max %.1f) over %llu "
                  "pairs, drift %.2f ms/min\n",
                  r.medianMs, r.minMs, r.maxMs, static_cast<unsigned long long>(r.pairs),
                  r.driftMsPerMinute);
  }
  return text;
}

}  // namespace Sorvane::receiver
