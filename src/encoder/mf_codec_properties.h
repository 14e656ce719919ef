#pragma once
#include <cstdint>
#include <vector>

#include "encoder/hardware_encoder.h"

namespace Sorvane {

// The encoder properties set through the transform's codec interface.
enum class CodecProperty {
  LowLatencyMode,  // a boolean
  RealTime,
  RateControlMode,
  MeanBitRate,
  MaxBitRate,
  Quality,
  GopSize,
  BPictureCount,
  EncodeQP,
  ForceKeyFrame,
};

struct CodecPropertyValue {
  CodecProperty property;
  uint64_t value;
};

// Its name in the codec API ("CODECAPI_AVEncMPVGOPSize"), for log lines.
const char* CodecPropertyName(CodecProperty property);

struct RateSettings {
  RateControlMode mode = RateControlMode::Bitrate;
  uint32_t bitrate = kDefaultBitrateBps;
  uint32_t peakBitrate = 0;
  float quality = 0.75f;
  int gopFrames = 1;
};

// The transform's rate-control mode for ours: constant bitrate, quality, peak-constrained VBR;
// anything unknown is constant bitrate.
uint32_t TransformRateControlMode(RateControlMode mode);

// quality × 100 truncated, at most 100.
uint32_t QualityPercent(float quality);

// What every newly chosen transform is given, in the order it is given: low latency, real time,
// the rate control, the bitrates, quality, GOP and no B pictures. The peak is the VBR peak when
// it is at least the mean, else 1.3 × the mean.
std::vector<CodecPropertyValue> InitialCodecProperties(const RateSettings& rates);

// The ones vendor encoders read only when the media types are set (low latency, rate-control
// mode, GOP, B pictures), with their values from InitialCodecProperties: given again before the
// output type.
std::vector<CodecPropertyValue> StaticCodecProperties(const RateSettings& rates);

// CODECAPI_AVEncVideoEncodeQP's value for one quantiser: the default field (bits 0-15), which
// is the one encoders are sure to read, and the I, P and B fields alike.
uint64_t PackedQp(uint32_t qp);

}  // namespace Sorvane
