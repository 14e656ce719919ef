#include "encoder/encoded_output.h"

#include <cstdio>

#include "diag/log_channels.h"
#include "encoder/annexb.h"

namespace Sorvane {
namespace {

// Counts deliveries of every encoder in the process; paces the diagnostic line.
std::atomic<uint64_t> gDeliveries{0};

void LogNalDiagnostic(const std::vector<uint8_t>& unit, bool cleanPoint, bool scanFound,
                      bool isHevc) {
  char first16[100];
  const uint8_t* b = unit.data();
  std::snprintf(first16, sizeof first16,
                "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X",
                b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                b[13], b[14], b[15]);
  Log(channels::kEncoder, kLogInfo,
      "[Vuvovede] Step 1 NAL diag: cleanPoint=%d scanFound=%d isHevc=%d size=%zu first16=[%s]",
      cleanPoint ? 1 : 0, scanFound ? 1 : 0, isHevc ? 1 : 0, unit.size(), first16);
}

}  // namespace

void EncodedOutput::SetCallback(EncodedFrameCallback callback) {
  auto replacement =
      callback ? std::make_shared<const EncodedFrameCallback>(std::move(callback)) : nullptr;
  std::lock_guard<std::mutex> lock(callbackLock_);
  callback_.swap(replacement);
  // The old callable is released here or by the delivery still holding it.
}

std::shared_ptr<const EncodedFrameCallback> EncodedOutput::CurrentCallback() const {
  std::lock_guard<std::mutex> lock(callbackLock_);
  return callback_;
}

void EncodedOutput::Deliver(const uint8_t* data, size_t size, bool cleanPoint,
                            uint64_t timestampUs) {
  const std::shared_ptr<const EncodedFrameCallback> callback = CurrentCallback();
  if (!callback || data == nullptr || size == 0)
    return;
  scratch_.clear();
  scratch_.reserve(size + parameterSets_.size());
  AppendAnnexB(scratch_, data, size);
  const bool isHevc = codec_ == Codec::HEVC;
  const bool scanFound = ScanForKeyframe(scratch_.data(), scratch_.size(), isHevc);
  const bool keyframe = cleanPoint || scanFound;
  if (gDeliveries.fetch_add(1) % 25 == 0 && scratch_.size() >= 16)
    LogNalDiagnostic(scratch_, cleanPoint, scanFound, isHevc);
  if (keyframe && !parameterSets_.empty())
    scratch_.insert(scratch_.begin(), parameterSets_.begin(), parameterSets_.end());
  Log(channels::kEncoder, kLogDebug, "frame encoded: %zu bytes keyframe=%d", scratch_.size(),
      keyframe ? 1 : 0);
  if (keyframe)
    keyframeProduced_.store(true);
  (*callback)(scratch_.data(), scratch_.size(), keyframe, timestampUs);
}

std::vector<uint8_t> ParameterSetsFromExtradata(Codec codec, const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0)
    return {};
  const bool annexB = (size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1) ||
                      (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1);
  const bool isHevc = codec == Codec::HEVC;
  if (annexB)
    return ParameterSetUnits(data, size, isHevc);
  return isHevc ? ReadHevcParameterSets(data, size) : ReadAvcParameterSets(data, size);
}

}  // namespace Sorvane
