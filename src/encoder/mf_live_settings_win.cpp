#include <strmif.h>

#include <algorithm>
#include <cmath>

#include "diag/log_channels.h"
#include "encoder/mf_codec_api_win.h"
#include "encoder/mf_encoder_win.h"

namespace Sorvane {
namespace {

constexpr int64_t kRateLimit = 4'000'000'000;

}  // namespace

void MediaFoundationEncoder::SetOutputCallback(EncodedFrameCallback callback) {
  output_.SetCallback(std::move(callback));
}

void MediaFoundationEncoder::SetBitrate(uint32_t bps) {
  if (bps == 0 || bitrate_.exchange(bps) == bps)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (codecApi_)
    SetCodecProperty(codecApi_.Get(), CodecProperty::MeanBitRate, bps);
}

void MediaFoundationEncoder::SetPeakBitrate(uint32_t bps) {
  if (bps == 0)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (!codecApi_ || rateControl_.load() != RateControlMode::VBR)
    return;
  const uint32_t mean = bitrate_.load();
  if (mean != 0 && bps < mean)
    bps = mean;
  peakBitrate_.store(bps);
  const HRESULT hr = SetCodecProperty(codecApi_.Get(), CodecProperty::MaxBitRate, bps);
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogInfo,
        "SetPeakBitrate: live SetValue rejected 0x%08lx — will apply on next reconfigure",
        static_cast<unsigned long>(hr));
    return;
  }
  Log(channels::kEncoder, kLogInfo, "SetPeakBitrate: max=%u bps (mean=%u, ratio=%.2f)", bps, mean,
      mean != 0 ? static_cast<double>(bps) / mean : 0.0);
}

void MediaFoundationEncoder::SetQualityMode(float quality) {
  quality = std::clamp(quality, 0.0f, 1.0f);
  std::lock_guard<std::mutex> lock(lock_);
  if (std::fabs(quality_ - quality) < 0.005f)
    return;
  quality_ = quality;
  if (!codecApi_)
    return;
  if (rateControl_.load() != RateControlMode::Quality) {
    Log(channels::kEncoder, kLogInfo, "SetQualityMode q=%.2f stored (not in Quality mode)",
        quality);
    return;
  }
  const uint32_t percent = QualityPercent(quality);
  const HRESULT hr = SetCodecProperty(codecApi_.Get(), CodecProperty::Quality, percent);
  Log(channels::kEncoder, kLogInfo,
      "SetQualityMode q=%.2f → CODECAPI_AVEncCommonQuality=%u hr=0x%08lx", quality, percent,
      static_cast<unsigned long>(hr));
}

void MediaFoundationEncoder::SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) {
  if (bufferBits < 1 || avgBitrateBps <= 0)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (!codecApi_)
    return;
  const auto mean = static_cast<uint32_t>(std::min(avgBitrateBps, kRateLimit));
  const auto max = static_cast<uint32_t>(std::min(2 * avgBitrateBps, kRateLimit));
  const HRESULT meanHr = SetCodecProperty(codecApi_.Get(), CodecProperty::MeanBitRate, mean);
  const HRESULT maxHr = SetCodecProperty(codecApi_.Get(), CodecProperty::MaxBitRate, max);
  Log(channels::kEncoder, kLogInfo,
      "SetHrdBufferBits: buf=%lld avg=%lld → mean=%u max=%u hr=(0x%08lx,0x%08lx)",
      static_cast<long long>(bufferBits), static_cast<long long>(avgBitrateBps), mean, max,
      static_cast<unsigned long>(meanHr), static_cast<unsigned long>(maxHr));
}

std::unique_ptr<IHardwareEncoder> MediaFoundationEncoder::Clone(const EncoderSettings& settings) {
  return CloneAs<MediaFoundationEncoder>(settings);
}

}  // namespace Sorvane
