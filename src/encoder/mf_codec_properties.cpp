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

const char* CodecPropertyName(CodecProperty property) {
  switch (property) {
    case CodecProperty::LowLatencyMode:
      return "CODECAPI_AVLowLatencyMode";
    case CodecProperty::RealTime:
      return "CODECAPI_AVEncCommonRealTime";
    case CodecProperty::RateControlMode:
      return "CODECAPI_AVEncCommonRateControlMode";
    case CodecProperty::MeanBitRate:
      return "CODECAPI_AVEncCommonMeanBitRate";
    case CodecProperty::MaxBitRate:
      return "CODECAPI_AVEncCommonMaxBitRate";
    case CodecProperty::Quality:
      return "CODECAPI_AVEncCommonQuality";
    case CodecProperty::GopSize:
      return "CODECAPI_AVEncMPVGOPSize";
    case CodecProperty::BPictureCount:
      return "CODECAPI_AVEncMPVDefaultBPictureCount";
    case CodecProperty::EncodeQP:
      return "CODECAPI_AVEncVideoEncodeQP";
    case CodecProperty::ForceKeyFrame:
      break;
  }
  return "CODECAPI_AVEncVideoForceKeyFrame";
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

std::vector<CodecPropertyValue> StaticCodecProperties(const RateSettings& rates) {
  std::vector<CodecPropertyValue> values;
  for (const CodecPropertyValue& value : InitialCodecProperties(rates)) {
    switch (value.property) {
      case CodecProperty::LowLatencyMode:
      case CodecProperty::RateControlMode:
      case CodecProperty::GopSize:
      case CodecProperty::BPictureCount:
        values.push_back(value);
        break;
      default:
        break;
    }
  }
  return values;
}

uint64_t PackedQp(uint32_t qp) {
  const uint64_t field = qp & 0xFFFF;
  return field | field << 16 | field << 32 | field << 48;
}

}  // namespace Sorvane
