// The host's frames: checks, target size, encoder set-up and stall recovery.
#include <cstdlib>
#include <exception>

#include "diag/log_channels.h"
#include "host/encoder_pipeline.h"
#include "host/transmit_instance.h"
#include "net/shared_transport.h"

namespace Sorvane {
namespace {

constexpr uint32_t kPacerBitrate = 300'000'000;
constexpr int64_t kSourceDebounceNs = 500'000'000;
constexpr int64_t kStallAfterNs = 3'000'000'000;
constexpr int64_t kStallRebuildSpacingNs = 5'000'000'000;
constexpr size_t kFrameCacheLimit = 33'554'432;

}  // namespace

std::pair<int32_t, int32_t> ComputeTargetSize(int32_t width, int32_t height, int32_t cap) {
  const int32_t shortSide = width < height ? width : height;
  if (width < 1 || height < 1 || cap < 1 || shortSide <= cap)
    return {width, height};
  const double scale = static_cast<double>(cap) / shortSide;
  auto scaled = [scale](int32_t side) {
    const int32_t even = static_cast<int32_t>(side * scale + 0.5) & ~1;
    return even < 16 ? 16 : even;
  };
  return {scaled(width), scaled(height)};
}

void TransmitInstance::PushVideo(const sdk::tmPushVideo* push) {
  if (push == nullptr)
    return;
  const bool hasClient = transport_.HasClient();
  Log(channels::kTransmit, kLogDebug, "PushVideo frameCount=%llu hasClient=%d",
      static_cast<unsigned long long>(push->inFrameCount), hasClient ? 1 : 0);
  if (push->inFrames == nullptr)
    return;
  // Every frame goes back to the host even when the encode throws; the entry reports it after.
  std::exception_ptr failure;
  for (sdk::csSDK_size_t i = 0; i < push->inFrameCount; ++i) {
    const sdk::PPixHand frame = push->inFrames[i].inFrame;
    if (frame == nullptr)
      continue;
    // One encoded frame per push: later frames of the same push are only disposed.
    if (i == 0 && started_.load() && hasClient && ppixSuite_.load() != nullptr) {
      try {
        EncodeHostFrame(frame);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    DisposeFrame(frame);
  }
  if (failure)
    std::rethrow_exception(failure);
}

bool TransmitInstance::AcceptFrameGeometry(const uint8_t* pixels, int32_t width, int32_t height,
                                           int32_t rowBytes) {
  if (pixels == nullptr || rowBytes < 1 || width < 16 || height < 16)
    return false;
  if (static_cast<int64_t>(rowBytes) < static_cast<int64_t>(width) * 4) {
    // The encoder would read past the end of each row of the host's buffer.
    if (lastShortRow_ != std::make_pair(width, rowBytes)) {
      lastShortRow_ = {width, rowBytes};
      Log(channels::kTransmit, kLogError, "PushVideo: row bytes %d < width %d × 4; dropping frame",
          rowBytes, width);
    }
    return false;
  }
  return true;
}

void TransmitInstance::EncodeHostFrame(sdk::PPixHand frame) {
  const sdk::PrSDKPPixSuite* ppix = ppixSuite_.load();
  char* pixels = nullptr;
  sdk::prRect bounds{0, 0, 0, 0};
  sdk::csSDK_int32 rowBytes = 0;
  sdk::PrPixelFormat format = sdk::PrPixelFormat_Invalid;
  ppix->GetPixels(frame, sdk::PrPPixBufferAccess_ReadOnly, &pixels);
  ppix->GetBounds(frame, &bounds);
  ppix->GetRowBytes(frame, &rowBytes);
  ppix->GetPixelFormat(frame, &format);
  const int32_t width = bounds.right - bounds.left;
  const int32_t height = bounds.bottom - bounds.top;

  if (format != sdk::PrPixelFormat_BGRA_4444_8u) {
    if (format != lastUnsupportedFormat_) {
      const char fourcc[5] = {static_cast<char>(format >> 24), static_cast<char>(format >> 16),
                              static_cast<char>(format >> 8), static_cast<char>(format), 0};
      Log(channels::kTransmit, kLogError,
          "PushVideo: unsupported pixel format 0x%08x '%s' (wanted 'bgra'); dropping frame", format,
          fourcc);
      lastUnsupportedFormat_ = format;
    }
    return;
  }
  lastUnsupportedFormat_ = 0;
  const auto* bgra = reinterpret_cast<const uint8_t*>(pixels);
  if (!AcceptFrameGeometry(bgra, width, height, rowBytes))
    return;

  const int32_t fps = fps_.load();
  CheckSourceChange(width, height, fps);
  const std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  if (!pipeline)
    return;
  const auto [targetWidth, targetHeight] = ComputeTargetSize(width, height, shortSideCap_.load());
  SetUpEncoderIfNeeded(*pipeline, width, height, fps, targetWidth, targetHeight);
  {
    std::lock_guard<std::mutex> lock(descriptionLock_);
    SendEncoderInfoIfChanged();
  }
  NoteFrameFed();
  pipeline->Encode(bgra, width, height, rowBytes);
  CacheFrame(bgra, width, height, rowBytes);
  CheckForStall(*pipeline, targetWidth, targetHeight, fps);
}

void TransmitInstance::SetUpEncoderIfNeeded(EncoderPipeline& pipeline, int32_t width,
                                            int32_t height, int32_t fps, int32_t targetWidth,
                                            int32_t targetHeight) {
  const bool initial = !pipeline.IsReady();
  if (!initial) {
    const int32_t tw = pipeline.TargetWidth(), th = pipeline.TargetHeight();
    const bool changed = pipeline.TargetFps() != fps || std::abs(tw - targetWidth) * 20 > tw ||
                         std::abs(th - targetHeight) * 20 > th;
    if (!changed)
      return;
  }
  if (initial && WaitingToRetryOpen({targetWidth, targetHeight, fps}))
    return;  // this size failed a moment ago; the encoder would only fail again
  Log(channels::kTransmit, kLogDebug,
      "[dx] PushVideo: dims changed — source=%dx%d cap=%d target=%dx%d fps=%d initial=%d", width,
      height, shortSideCap_.load(), targetWidth, targetHeight, fps, initial ? 1 : 0);
  if (initial) {
    OpenEncoder(pipeline, targetWidth, targetHeight, fps);
  } else {
    EncoderSettings settings;
    settings.width = targetWidth;
    settings.height = targetHeight;
    settings.fps = fps;
    settings.bitrateBps = kEncoderBitrate;
    settings.gopFrames = pipeline.GopSize();
    settings.codec = pipeline.GetCodec();
    settings.rateControl = pipeline.GetRateControl();
    settings.quality = pipeline.Quality();
    settings.frameCap = pipeline.FrameCap();
    pipeline.Reconfigure(settings);
  }
  transport_.SetPacerBitrate(kPacerBitrate);

  std::lock_guard<std::mutex> lock(descriptionLock_);
  const SourceDims source{width, height, fps};
  if (source != committedSource_) {
    Log(channels::kTransmit, kLogDebug,
        "[dx] force-promoting source via Configure: %dx%d @ %d fps (was %dx%d @ %d)", width, height,
        fps, committedSource_.width, committedSource_.height, committedSource_.fps);
    candidateSource_ = source;
    committedSource_ = source;
    if (SendSourceChanged(source)) {
      Log(channels::kTransmit, kLogInfo, "SendControl: kSourceChanged %dx%d @ %d fps", width,
          height, fps);
    }
  }
  SendStreamInfoIfReady();
}

void TransmitInstance::CheckSourceChange(int32_t width, int32_t height, int32_t fps) {
  if (width < 1 || height < 1 || fps <= 0)
    return;
  std::lock_guard<std::mutex> lock(descriptionLock_);
  const SourceDims source{width, height, fps};
  if (source == committedSource_)
    return;
  const int64_t now = clock_.NowNs();
  if (source != candidateSource_) {
    candidateSource_ = source;
    candidateSinceNs_ = now;
    return;
  }
  if (now - candidateSinceNs_ < kSourceDebounceNs)
    return;
  if (SendSourceChanged(source)) {
    committedSource_ = source;
    Log(channels::kTransmit, kLogInfo, "SendControl: kSourceChanged %dx%d @ %d fps", width, height,
        fps);
  }
  SendStreamInfoIfReady();
}

void TransmitInstance::CacheFrame(const uint8_t* pixels, int32_t width, int32_t height,
                                  int32_t rowBytes) {
  if (pixels == nullptr || width <= 0 || height <= 0 || rowBytes <= 0)
    return;
  const size_t bytes = static_cast<size_t>(rowBytes) * static_cast<size_t>(height);
  if (bytes == 0 || bytes > kFrameCacheLimit)
    return;
  std::lock_guard<std::mutex> lock(frameCacheLock_);
  if (frameCache_.bytes.size() != bytes)
    frameCache_.bytes.resize(bytes);
  std::copy(pixels, pixels + bytes, frameCache_.bytes.begin());
  frameCache_.width = width;
  frameCache_.height = height;
  frameCache_.rowBytes = rowBytes;
  frameCache_.valid = true;
}

void TransmitInstance::NoteFrameFed() {
  int64_t none = 0;
  firstFedSinceOutputNs_.compare_exchange_strong(none, clock_.NowNs());
}

void TransmitInstance::NoteEncoderOutput() {
  lastEncoderOutputNs_.store(clock_.NowNs());
  firstFedSinceOutputNs_.store(0);
}

// A stall is output that stops while frames keep going in: timed from the first frame fed since
// the last output, never from the last output itself, or every pause of the host (which feeds
// nothing) would look like one to an encoder that answers a few frames late.
void TransmitInstance::CheckForStall(EncoderPipeline& pipeline, int32_t targetWidth,
                                     int32_t targetHeight, int32_t fps) {
  const int64_t now = clock_.NowNs();
  const int64_t fedSince = firstFedSinceOutputNs_.load();
  const int64_t lastRebuild = lastStallRebuildNs_.load();  // 0: never rebuilt, nothing to space
  if (lastEncoderOutputNs_.load() <= 0 || fedSince <= 0 || now - fedSince <= kStallAfterNs ||
      (lastRebuild > 0 && now - lastRebuild <= kStallRebuildSpacingNs)) {
    return;
  }
  lastStallRebuildNs_.store(now);
  Log(channels::kTransmit, kLogFault,
      "encoder stall: no output for %lld ms while feeding — rebuilding session %dx%d @ %d fps",
      static_cast<long long>((now - fedSince) / 1'000'000), targetWidth, targetHeight, fps);
  pipeline.Configure(targetWidth, targetHeight, kEncoderBitrate, fps);
  pipeline.RequestKeyframe();
  lastEncoderOutputNs_.store(now);
  firstFedSinceOutputNs_.store(0);
}

}  // namespace Sorvane
