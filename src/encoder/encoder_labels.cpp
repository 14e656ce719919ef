#include "encoder/hardware_encoder.h"

namespace Sorvane {

const char* CodecLabel(Codec codec) {
  return codec == Codec::H264 ? "H264" : "HEVC";
}

const char* RateControlLabel(RateControlMode mode) {
  switch (mode) {
    case RateControlMode::Quality:
      return "Quality";
    case RateControlMode::VBR:
      return "VBR";
    default:
      return "Bitrate";
  }
}

uint32_t ClampFrameCap(uint32_t cap) {
  if (cap == 0)
    return kDefaultFrameCap;
  if (cap < kMinFrameCap)
    return kMinFrameCap;
  if (cap > kMaxFrameCap)
    return kMaxFrameCap;
  return cap;
}

}  // namespace Sorvane
