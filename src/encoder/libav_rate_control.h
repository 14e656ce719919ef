#pragma once
#include <cstdint>

#include "encoder/hardware_encoder.h"

namespace Sorvane {

// libavcodec's rate-control fields for one setting of the encoder (bits per second).
struct RateFields {
  int64_t bitRate = 0;     // mean; 0 in constant-quality mode
  int64_t minRate = 0;     // the mean for constant bitrate, else 0
  int64_t maxRate = 0;     // peak, and the ceiling of constant quality
  int64_t bufferSize = 0;  // VBV buffer
  double crf = -1;         // constant-rate factor in Quality mode, else -1
};

// Bitrate: constant at the mean. VBR: the mean with the peak (mean × 13 / 10 when no peak at or
// above the mean is given). Quality: CRF from the quality value under a ceiling of mean × 13 /
// 10. The VBV buffer holds half a second at the peak rate, so a keyframe cannot take longer than
// that to pace out.
RateFields RateFieldsFor(RateControlMode mode, uint32_t bitrateBps, uint32_t peakBitrateBps,
                         float quality);

// Quality 0..1 to a CRF (x264 / x265 scale, lower is better): 40 − 30 × quality. The default
// 0.75 gives 17.5, where both encoders look transparent; 0 still gives a watchable 40.
double CrfForQuality(float quality);

// The encoder's own keyframe interval for a GOP rule of `gopFrames`: one frame longer than the
// forced spacing, so the encoder's own keyframe falls on the forced one instead of one frame
// before it (a forced keyframe restarts its count). 1 stays 1: every frame is a keyframe.
int EncoderKeyframeInterval(int gopFrames);

}  // namespace Sorvane
