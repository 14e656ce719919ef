#include "encoder/libav_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/clock.h"
#include "diag/log_channels.h"
#include "encoder/color_convert.h"
#include "encoder/encoder_description.h"
#include "encoder/encoder_settings_text.h"
#include "encoder/frame_input.h"
#include "encoder/libav_probe.h"

namespace Sorvane {
namespace {

// libx265 cannot keep real time above this many pixels on a CPU (measured with sv-encode).
constexpr int64_t kHevcSoftwarePixelCap = 6'000'000;
// The status printed when an open encoder cannot take a setting live (ENOSYS).
constexpr unsigned long kNotLive = 0xffffffdaUL;

const char* KindLabel(bool hardware) {
  return hardware ? "HW" : "SW";
}

}  // namespace

LibavEncoder::~LibavEncoder() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
}

void LibavEncoder::TearDownLocked() {
  if (session_ != nullptr)
    SetDescriptions(std::string());
  session_.reset();
  configured_.store(false);
  kind_.store(EncoderKind::Unknown);
  output_.SetParameterSets({});
  width_.store(0);
  height_.store(0);
  fps_.store(30);
  frameIndex_ = 0;
}

RateFields LibavEncoder::CurrentRatesLocked() const {
  return RateFieldsFor(rateControl_.load(), bitrate_.load(), peakBitrate_.load(), quality_);
}

bool LibavEncoder::ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) {
  TearDownLocked();
  if (width < 16 || height < 16 || fps < 1) {
    Log(channels::kEncoder, kLogError, "Configure: invalid %dx%d@%d", width, height, fps);
    return false;
  }
  if (bitrateBps == 0)
    bitrateBps = kDefaultBitrateBps;
  width_.store(width);
  height_.store(height);
  fps_.store(fps);
  bitrate_.store(bitrateBps);
  output_.ResetKeyframeProduced();
  keyframeRequested_.store(true);
  // 4:2:0 needs even sizes: an odd last column or row is left out of the picture.
  const int codedWidth = width & ~1, codedHeight = height & ~1;
  if (codedWidth != width || codedHeight != height) {
    Log(channels::kEncoder, kLogInfo, "Configure: coding %dx%d of %dx%d (4:2:0 needs even sizes)",
        codedWidth, codedHeight, width, height);
  }
  const Codec codec = codec_.load();
  if (!OpenFirstCandidate(codedWidth, codedHeight)) {
    Log(channels::kEncoder, kLogError,
        "No encoder accepted our settings (codec=%s %dx%d@%d %u bps)", CodecLabel(codec), width,
        height, fps, bitrateBps);
    SetDescriptions(std::string());
    TearDownLocked();
    return false;
  }
  char text[256];
  std::snprintf(text, sizeof text, "%s [%s, %dx%d %s @ %d fps, %u Mbps]",
                session_->Candidate().name, KindLabel(session_->Candidate().hardware), width,
                height, codec == Codec::H264 ? "H.264" : "HEVC", fps, bitrateBps / 1'000'000);
  SetDescriptions(text);
  const std::vector<uint8_t> extradata = session_->Extradata();
  output_.SetCodec(codec);
  output_.SetParameterSets(ParameterSetsFromExtradata(codec, extradata.data(), extradata.size()));
  frameIndex_ = 0;
  framesSinceKey_ = 0;
  kind_.store(session_->Candidate().hardware ? EncoderKind::Hardware : EncoderKind::Software);
  configured_.store(true);
  Log(channels::kEncoder, kLogInfo,
      "Configure OK: %dx%d @ %d fps, %u bps, codec=%s, gop=%d, ps=%zuB", width, height, fps,
      bitrateBps, CodecLabel(codec), gopFrames_.load(), output_.ParameterSets().size());
  Log(channels::kEncoder, kLogInfo, "encoder settings: %s",
      FormatEncoderSettings(SettingsLocked()).c_str());
  return true;
}

bool LibavEncoder::OpenFirstCandidate(int codedWidth, int codedHeight) {
  SessionSettings settings;
  settings.width = codedWidth;
  settings.height = codedHeight;
  settings.fps = fps_.load();
  settings.gopFrames = gopFrames_.load();
  settings.rates = CurrentRatesLocked();
  settings.softwarePreset = softwarePreset_;
  for (const EncoderCandidate& candidate : EncoderCandidates(codec_.load())) {
    if (candidate.hardware && !HardwareEncoderOpens(candidate))
      continue;
    if (!candidate.hardware && candidate.codec == Codec::HEVC &&
        static_cast<int64_t>(width_.load()) * height_.load() > kHevcSoftwarePixelCap) {
      Log(channels::kEncoder, kLogError,
          "Refusing %dx%d on SW HEVC encoder \"%s\" — above %.1f MPx cap (no hardware HEVC "
          "encoder opened here)",
          width_.load(), height_.load(), candidate.name, kHevcSoftwarePixelCap / 1e6);
      return false;
    }
    Log(channels::kEncoder, kLogInfo, "trying %s encoder: \"%s\"", KindLabel(candidate.hardware),
        candidate.name);
    std::string error;
    session_ = LibavSession::Open(candidate, settings, &error);
    if (session_ != nullptr) {
      Log(channels::kEncoder, kLogInfo, "  -> using %s \"%s\"", KindLabel(candidate.hardware),
          candidate.name);
      return true;
    }
    Log(channels::kEncoder, kLogInfo, "  [%s] open \"%s\" failed %s", KindLabel(candidate.hardware),
        candidate.name, error.c_str());
  }
  return false;
}

bool LibavEncoder::DecideKeyframeLocked() {
  const int gop = gopFrames_.load();
  const bool dueByGop = gop > 1 && framesSinceKey_ >= gop;
  const bool requested = keyframeRequested_.exchange(false);
  if (requested || gop <= 1 || dueByGop) {
    framesSinceKey_ = 0;
    return true;
  }
  ++framesSinceKey_;
  return false;
}

const uint8_t* LibavEncoder::ScaledSourceLocked(const uint8_t* bgra, int width, int height,
                                                int* strideBytes) {
  const int w = width_.load(), h = height_.load();
  if (width == w && height == h)
    return bgra;
  scaled_.resize(static_cast<size_t>(w) * h * 4);
  ScaleNearest(bgra, *strideBytes, width, height, scaled_.data(), w * 4, w, h);
  *strideBytes = w * 4;
  return scaled_.data();
}

void LibavEncoder::EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) {
  std::lock_guard<std::mutex> lock(lock_);
  if (session_ == nullptr)
    return;
  if (!AcceptFrameInput(bgra, width, height, strideBytes, shortRowsLogged_))
    return;
  const int64_t convertStart = SteadyNowNs();
  const uint8_t* source = ScaledSourceLocked(bgra, width, height, &strideBytes);
  const bool written = session_->WritePicture(source, strideBytes);
  conversionNs_.fetch_add(static_cast<uint64_t>(SteadyNowNs() - convertStart));
  if (!written)
    return;
  const bool coarsest = TakeEmergencyFrame();
  const bool keyframe = DecideKeyframeLocked();
  const uint64_t timestampUs =
      static_cast<uint64_t>(frameIndex_) * 1'000'000 / static_cast<uint64_t>(fps_.load());
  const auto deliver = [this, timestampUs](const uint8_t* data, size_t size, bool key) {
    output_.Deliver(data, size, key, timestampUs);
  };
  int sent = session_->Submit(frameIndex_, keyframe, coarsest);
  if (LibavSession::MustDrainFirst(sent)) {
    // A queue-holding encoder is full: what it has goes out with this frame's time stamp.
    session_->Drain(deliver);
    sent = session_->Submit(frameIndex_, keyframe, coarsest);
  }
  if (sent < 0) {
    Log(channels::kEncoder, kLogError, "avcodec_send_frame failed %s",
        LibavErrorText(sent).c_str());
    return;
  }
  ++frameIndex_;
  session_->Drain(deliver);
}

void LibavEncoder::SetSoftwarePresetForMeasurement(std::string preset) {
  std::lock_guard<std::mutex> lock(lock_);
  softwarePreset_ = std::move(preset);
}

void LibavEncoder::SetOutputCallback(EncodedFrameCallback callback) {
  output_.SetCallback(std::move(callback));
}

void LibavEncoder::SetBitrate(uint32_t bps) {
  if (bps == 0 || bitrate_.exchange(bps) == bps)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (session_ != nullptr && session_->LiveRates())
    session_->UpdateRates(CurrentRatesLocked());
}

void LibavEncoder::SetPeakBitrate(uint32_t bps) {
  if (bps == 0)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (session_ == nullptr || rateControl_.load() != RateControlMode::VBR)
    return;
  const uint32_t mean = bitrate_.load();
  if (mean != 0 && bps < mean)
    bps = mean;
  peakBitrate_.store(bps);
  if (!session_->LiveRates()) {
    Log(channels::kEncoder, kLogInfo,
        "SetPeakBitrate: live SetValue rejected 0x%08lx — will apply on next reconfigure",
        kNotLive);
    return;
  }
  session_->UpdateRates(CurrentRatesLocked());
  Log(channels::kEncoder, kLogInfo, "SetPeakBitrate: max=%u bps (mean=%u, ratio=%.2f)", bps, mean,
      mean != 0 ? static_cast<double>(bps) / mean : 0.0);
}

void LibavEncoder::SetQualityMode(float quality) {
  quality = std::clamp(quality, 0.0f, 1.0f);
  std::lock_guard<std::mutex> lock(lock_);
  if (std::fabs(quality_ - quality) < 0.005f)
    return;
  quality_ = quality;
  if (session_ == nullptr)
    return;
  if (rateControl_.load() != RateControlMode::Quality) {
    Log(channels::kEncoder, kLogInfo, "SetQualityMode q=%.2f stored (not in Quality mode)",
        quality);
    return;
  }
  const bool live = session_->LiveRates();
  if (live)
    session_->UpdateRates(CurrentRatesLocked());
  Log(channels::kEncoder, kLogInfo, "SetQualityMode q=%.2f → crf=%.1f hr=0x%08lx", quality,
      CrfForQuality(quality), live ? 0UL : kNotLive);
}

void LibavEncoder::SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) {
  if (bufferBits < 1 || avgBitrateBps <= 0)
    return;
  std::lock_guard<std::mutex> lock(lock_);
  if (session_ == nullptr)
    return;
  constexpr int64_t kLimit = 4'000'000'000;
  const int64_t mean = std::min(avgBitrateBps, kLimit);
  const int64_t max = std::min(2 * avgBitrateBps, kLimit);
  const bool live = session_->LiveRates();
  if (live) {
    RateFields rates = CurrentRatesLocked();
    rates.bitRate = rates.crf >= 0 ? 0 : mean;
    rates.minRate = 0;
    rates.maxRate = max;
    session_->UpdateRates(rates);
  }
  const unsigned long status = live ? 0UL : kNotLive;
  Log(channels::kEncoder, kLogInfo,
      "SetHrdBufferBits: buf=%lld avg=%lld → mean=%u max=%u hr=(0x%08lx,0x%08lx)",
      static_cast<long long>(bufferBits), static_cast<long long>(avgBitrateBps),
      static_cast<unsigned>(mean), static_cast<unsigned>(max), status, status);
}

std::unique_ptr<IHardwareEncoder> LibavEncoder::Clone(const EncoderSettings& settings) {
  return CloneAs<LibavEncoder>(settings);
}

}  // namespace Sorvane
