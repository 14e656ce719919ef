#include "encoder/libav_rate_control.h"

#include <algorithm>

namespace Sorvane {

double CrfForQuality(float quality) {
  return 40.0 - 30.0 * std::clamp(quality, 0.0f, 1.0f);
}

RateFields RateFieldsFor(RateControlMode mode, uint32_t bitrateBps, uint32_t peakBitrateBps,
                         float quality) {
  const int64_t mean = bitrateBps;
  const int64_t ceiling = mean * 13 / 10;
  RateFields fields;
  switch (mode) {
    case RateControlMode::Quality:
      fields.crf = CrfForQuality(quality);
      fields.maxRate = ceiling;
      break;
    case RateControlMode::VBR:
      fields.bitRate = mean;
      fields.maxRate =
          (peakBitrateBps != 0 && peakBitrateBps >= bitrateBps) ? peakBitrateBps : ceiling;
      break;
    default:
      fields.bitRate = mean;
      fields.minRate = mean;
      fields.maxRate = mean;
      break;
  }
  fields.bufferSize = fields.maxRate / 2;
  return fields;
}

int EncoderKeyframeInterval(int gopFrames) {
  return gopFrames > 1 ? gopFrames + 1 : 1;
}

}  // namespace Sorvane
