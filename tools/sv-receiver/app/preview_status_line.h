#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "sv-receiver/app/preview_meter.h"

namespace Sorvane::receiver {

// What the preview's one-line overlay reports.
struct PreviewStatus {
  PreviewReadings readings;
  uint64_t framesLost = 0;
  uint64_t framesRebuilt = 0;  // by parity
  bool havePicture = false;
  bool hevc = false;
  int width = 0;
  int height = 0;
};

// "59.8 FPS  LATENCY 41.2 MS  LOST 0  REBUILT 3  H.264 1920X1080" (upper case: the font's).
std::string PreviewStatusLine(const PreviewStatus& status);

}  // namespace Sorvane::receiver
