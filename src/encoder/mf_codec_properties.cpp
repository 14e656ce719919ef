#include "encoder/mf_codec_properties.h"

namespace Sorvane {

uint32_t TransformRateControlMode(RateControlMode mode) {
  switch (mode) {
    case RateControlMode::Quality:
      return 3;
    case RateControlMode::VBR:
      return 1;
    default:
      return 0;
  }
}

uint32_t QualityPercent(float quality) {
  if (!(quality > 0.0f))
    return 0;
  const uint32_t percent = static_cast<uint32_t>(quality * 100.0f);
  return percent > 100 ? 100 : percent;
}

std::vector<CodecPropertyValue> InitialCodecProperties(const RateSettings& rates) {
  const bool vbrPeak = rates.mode == RateControlMode::VBR && rates.peakBitrate != 0 &&
                       rates.peakBitrate >= rates.bitrate;
  const uint32_t maxBitrate =
      vbrPeak ? rates.peakBitrate
              : static_cast<uint32_t>(static_cast<uint64_t>(rates.bitrate) * 13 / 10);
  return {
      {CodecProperty::LowLatencyMode, 1},
      {CodecProperty::RealTime, 1},
      {CodecProperty::RateControlMode, TransformRateControlMode(rates.mode)},
      {CodecProperty::MeanBitRate, rates.bitrate},
      {CodecProperty::MaxBitRate, maxBitrate},
      {CodecProperty::Quality, QualityPercent(rates.quality)},
      {CodecProperty::GopSize, static_cast<uint32_t>(rates.gopFrames < 1 ? 1 : rates.gopFrames)},
      {CodecProperty::BPictureCount, 0},
  };
}

}  // namespace Sorvane
