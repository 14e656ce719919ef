#include "sv-receiver/app/preview_status_line.h"

#include <cstdio>

namespace Sorvane::receiver {

std::string PreviewStatusLine(const PreviewStatus& s) {
  char latency[32] = "--";
  if (s.readings.latencyMedianMs)
    std::snprintf(latency, sizeof latency, "%.1f", *s.readings.latencyMedianMs);
  char picture[48] = "NO PICTURE YET";
  if (s.havePicture)
    std::snprintf(picture, sizeof picture, "%s %dX%d", s.hevc ? "HEVC" : "H.264", s.width,
                  s.height);
  char line[192];
  std::snprintf(line, sizeof line, "%.1f FPS  LATENCY %s MS  LOST %llu  REBUILT %llu  %s",
                s.readings.fps, latency, static_cast<unsigned long long>(s.framesLost),
                static_cast<unsigned long long>(s.framesRebuilt), picture);
  return line;
}

}  // namespace Sorvane::receiver
