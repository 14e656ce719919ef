#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "encoder/hardware_encoder.h"

namespace Sorvane {

// The one road every encoded access unit takes out of an encoder, whatever produced it: Annex B
// form, keyframe = the encoder's flag or a scan of the NAL headers, the codec's parameter sets in
// front of every keyframe, then the output callback. Not entered twice at once per encoder.
class EncodedOutput {
 public:
  void SetCodec(Codec codec) { codec_ = codec; }
  // Start-code-prefixed parameter sets (from an extradata blob or a configuration record).
  void SetParameterSets(std::vector<uint8_t> parameterSets) {
    parameterSets_ = std::move(parameterSets);
  }
  const std::vector<uint8_t>& ParameterSets() const { return parameterSets_; }

  // Delivers one access unit. `keyframeProduced` is set when it is a keyframe.
  void Deliver(const uint8_t* data, size_t size, bool cleanPoint, uint64_t timestampUs,
               const EncodedFrameCallback& callback, std::atomic<bool>& keyframeProduced);

 private:
  Codec codec_ = Codec::HEVC;
  std::vector<uint8_t> parameterSets_;
  std::vector<uint8_t> scratch_;  // reused from unit to unit
};

// Start-code-prefixed parameter sets from an encoder's global header, whether it is already in
// Annex B form or an AVC / HEVC decoder configuration record.
std::vector<uint8_t> ParameterSetsFromExtradata(Codec codec, const uint8_t* data, size_t size);

}  // namespace Sorvane
