// Opening the encoder for the stream: H.264 when HEVC cannot be opened here, and failed attempts
// spaced out instead of repeated on every frame.
#include <algorithm>

#include "diag/log_channels.h"
#include "host/encoder_pipeline.h"
#include "host/transmit_instance.h"

namespace Sorvane {
namespace {

constexpr int64_t kFirstRetryNs = 500'000'000;
constexpr int64_t kLongestRetryNs = 8'000'000'000;

int64_t RetryDelayNs(int failures) {
  return std::min(kFirstRetryNs << std::min(failures - 1, 4), kLongestRetryNs);
}

}  // namespace

bool TransmitInstance::WaitingToRetryOpen(const SourceDims& target) const {
  return target == openRetry_.target && clock_.NowNs() < openRetry_.nextAttemptNs;
}

bool TransmitInstance::OpenEncoder(EncoderPipeline& pipeline, int32_t width, int32_t height,
                                   int32_t fps) {
  const SourceDims target{width, height, fps};
  if (pipeline.Configure(width, height, kEncoderBitrate, fps) ||
      FallBackToH264(pipeline, width, height, fps)) {
    if (openRetry_.failures > 0) {
      Log(channels::kTransmit, kLogInfo, "encoder opened after %d failed attempts (%dx%d @ %d fps)",
          openRetry_.failures, width, height, fps);
    }
    openRetry_ = {};
    return true;
  }
  if (target != openRetry_.target)
    openRetry_ = {target, 0, 0};
  ++openRetry_.failures;
  const int64_t delayNs = RetryDelayNs(openRetry_.failures);
  openRetry_.nextAttemptNs = clock_.NowNs() + delayNs;
  Log(channels::kTransmit, kLogError,
      "encoder Configure failed (%dx%d @ %d fps) — Ready() stays false, next attempt in %lld ms",
      width, height, fps, static_cast<long long>(delayNs / 1'000'000));
  return false;
}

// HEVC is the default, but not every machine can open it (no HEVC transform at all, or only a
// software one refusing the size): the stream goes on in H.264, as if the phone had asked for it.
bool TransmitInstance::FallBackToH264(EncoderPipeline& pipeline, int32_t width, int32_t height,
                                      int32_t fps) {
  if (pipeline.GetCodec() != Codec::HEVC)
    return false;
  pipeline.SetCodec(Codec::H264);
  if (!pipeline.Configure(width, height, kEncoderBitrate, fps)) {
    pipeline.SetCodec(Codec::HEVC);  // the next attempt asks for what the phone wants again
    return false;
  }
  Log(channels::kTransmit, kLogError,
      "encoder: HEVC cannot be opened at %dx%d @ %d fps — streaming H.264 instead", width, height,
      fps);
  std::lock_guard<std::mutex> lock(descriptionLock_);
  lastStreamInfo_ = {};  // described again, with the new encoder's text, by the set-up's tail
  return true;
}

}  // namespace Sorvane
