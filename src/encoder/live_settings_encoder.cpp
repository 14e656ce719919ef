#include "encoder/live_settings_encoder.h"

#include <algorithm>
#include <cmath>

#include "diag/log_channels.h"
#include "encoder/encoder_description.h"

namespace Sorvane {

bool LiveSettingsEncoder::Configure(int width, int height, uint32_t bitrateBps, int fps) {
  std::lock_guard<std::mutex> lock(lock_);
  return ConfigureLocked(width, height, bitrateBps, fps);
}

void LiveSettingsEncoder::Shutdown() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
}

std::string LiveSettingsEncoder::Description() const {
  std::lock_guard<std::mutex> lock(descriptionLock_);
  return description_;
}

void LiveSettingsEncoder::SetDescriptions(const std::string& text) {
  SetCurrentEncoderDescription(text);
  std::lock_guard<std::mutex> lock(descriptionLock_);
  description_ = text;
}

void LiveSettingsEncoder::ReopenLocked() {
  if (IsOpenLocked() && width_.load() > 0)
    ConfigureLocked(width_.load(), height_.load(), bitrate_.load(), fps_.load());
}

void LiveSettingsEncoder::SetGopSize(int frames) {
  frames = std::max(frames, 1);
  std::lock_guard<std::mutex> lock(lock_);
  if (gopFrames_.exchange(frames) != frames)
    ReopenLocked();
}

void LiveSettingsEncoder::SetCodec(Codec codec) {
  std::lock_guard<std::mutex> lock(lock_);
  if (codec_.exchange(codec) != codec)
    ReopenLocked();
}

void LiveSettingsEncoder::SetRateControl(RateControlMode mode, float quality) {
  std::lock_guard<std::mutex> lock(lock_);
  if (mode == rateControl_.load() && std::fabs(quality_ - quality) < 0.005f)
    return;
  rateControl_.store(mode);
  quality_ = std::clamp(quality, 0.0f, 1.0f);
  ReopenLocked();
}

void LiveSettingsEncoder::CompressEmergency(int frames) {
  if (frames <= 0)
    return;
  emergencyFrames_.store(frames);
  keyframeRequested_.store(true);
  Log(channels::kEncoder, kLogInfo, "emergency compression: %d frames at QP=51", frames);
}

bool LiveSettingsEncoder::TakeEmergencyFrame() {
  int left = emergencyFrames_.load();
  while (left > 0) {
    if (emergencyFrames_.compare_exchange_weak(left, left - 1))
      return true;
  }
  return false;
}

void LiveSettingsEncoder::SetFrameCap(uint32_t cap) {
  frameCap_.store(std::clamp(cap, kMinFrameCap, kMaxFrameCap));
}

EncoderSettings LiveSettingsEncoder::SettingsLocked() const {
  EncoderSettings s;
  s.width = width_.load();
  s.height = height_.load();
  s.fps = fps_.load();
  s.bitrateBps = bitrate_.load();
  s.peakBitrateBps = peakBitrate_.load();
  s.gopFrames = gopFrames_.load();
  s.codec = codec_.load();
  s.rateControl = rateControl_.load();
  s.quality = quality_;
  s.frameCap = frameCap_.load();
  return s;
}

EncoderSettings LiveSettingsEncoder::Settings() const {
  std::lock_guard<std::mutex> lock(lock_);
  return SettingsLocked();
}

bool LiveSettingsEncoder::Apply(const EncoderSettings& s) {
  std::lock_guard<std::mutex> lock(lock_);
  codec_.store(s.codec);
  rateControl_.store(s.rateControl);
  quality_ = std::clamp(s.quality, 0.0f, 1.0f);
  gopFrames_.store(std::max(s.gopFrames, 1));
  peakBitrate_.store(s.peakBitrateBps);
  frameCap_.store(ClampFrameCap(s.frameCap));
  return ConfigureLocked(s.width, s.height, s.bitrateBps, s.fps);
}

void LiveSettingsEncoder::LogCloneFailure(const EncoderSettings& s) {
  Log(channels::kEncoder, kLogError,
      "Clone: Configure failed (%dx%d@%d bps=%u) — pipeline will fall back to Conservative",
      s.width, s.height, s.fps, s.bitrateBps);
}

}  // namespace Sorvane
