#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/hardware_encoder.h"

namespace Sorvane {

// The one road every encoded access unit takes out of an encoder, whatever produced it: Annex B
// form, keyframe = the encoder's clean-point flag or a scan of the NAL headers, the codec's
// parameter sets in front of every keyframe, then the output callback. The inputs are plain
// bytes so every encoder implementation, present and future, delivers through it.
class EncodedOutput {
 public:
  // Replaces the callback at any time. A delivery already running on another thread finishes
  // with the callback it started with; the swap never waits for it.
  void SetCallback(EncodedFrameCallback callback);

  // Configuration, set by the thread that drives the encoder (under the encoder's lock).
  void SetCodec(Codec codec) { codec_ = codec; }
  void SetParameterSets(std::vector<uint8_t> parameterSets) {
    parameterSets_ = std::move(parameterSets);
  }
  const std::vector<uint8_t>& ParameterSets() const { return parameterSets_; }

  // Cleared at every Configure; set by the first keyframe delivered after it.
  void ResetKeyframeProduced() { keyframeProduced_.store(false); }
  bool KeyframeProduced() const { return keyframeProduced_.load(); }

  // Delivers one access unit as the encoder produced it (Annex B or 4-byte length prefixes).
  // Not entered twice at once for one encoder.
  void Deliver(const uint8_t* data, size_t size, bool cleanPoint, uint64_t timestampUs);

 private:
  std::shared_ptr<const EncodedFrameCallback> CurrentCallback() const;

  mutable std::mutex callbackLock_;  // held only to copy or swap the pointer
  std::shared_ptr<const EncodedFrameCallback> callback_ GUARDED_BY(callbackLock_);
  std::atomic<bool> keyframeProduced_{false};
  // Owned by the thread that drives the encoder.
  Codec codec_ = Codec::HEVC;
  std::vector<uint8_t> parameterSets_;
  std::vector<uint8_t> scratch_;  // reused from unit to unit; keeps its largest size
};

// Start-code-prefixed parameter sets from an encoder's global header, whether it is in Annex B
// form (only the parameter-set units are kept) or an AVC / HEVC decoder configuration record.
std::vector<uint8_t> ParameterSetsFromExtradata(Codec codec, const uint8_t* data, size_t size);

}  // namespace Sorvane
