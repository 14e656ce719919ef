#pragma once
#include <atomic>
#include <memory>
#include <mutex>

#include "encoder/hardware_encoder.h"

namespace Sorvane::test {

// What all fake encoders of one test share: counters and the knobs that shape their behaviour.
struct FakeEncoderWorld {
  std::atomic<int> created{0};
  std::atomic<int> clones{0};
  std::atomic<int> shutdowns{0};
  std::atomic<bool> failClone{false};
  // A clone's first keyframe comes after this many frames (a large value: never).
  std::atomic<int> cloneFramesBeforeKeyframe{0};
};

// A synchronous encoder: every frame produces one access unit inside EncodeFrame, whose first
// byte is the encoder's serial number.
class FakeEncoder final : public IHardwareEncoder {
 public:
  explicit FakeEncoder(std::shared_ptr<FakeEncoderWorld> world, int framesBeforeKeyframe = 0)
      : world_(std::move(world)), serial_(++world_->created), keyAfter_(framesBeforeKeyframe) {}

  int serial() const { return serial_; }
  // Emits an access unit as an asynchronous encoder might, late and from any thread.
  void EmitLate() {
    const uint8_t data[2] = {static_cast<uint8_t>(serial_), 0xEE};
    if (callback_)
      callback_(data, sizeof data, false, 0);
  }

  bool Configure(int w, int h, uint32_t bps, int fps) override {
    if (w < 16 || h < 16 || fps < 1)
      return false;
    width_ = w;
    height_ = h;
    fps_ = fps;
    bitrate_ = bps ? bps : kDefaultBitrateBps;
    configured_ = true;
    keyRequested_ = true;
    return true;
  }
  void Shutdown() override {
    configured_ = false;
    ++world_->shutdowns;
  }
  bool IsConfigured() const override { return configured_; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int FrameRate() const override { return fps_; }
  std::string Description() const override { return configured_ ? "fake" : ""; }
  void EncodeFrame(const uint8_t*, int, int, int) override {
    if (!configured_)
      return;
    ++frames_;
    const bool key = frames_ > keyAfter_ && keyRequested_.exchange(false);
    if (key)
      produced_ = true;
    const uint8_t data[2] = {static_cast<uint8_t>(serial_), static_cast<uint8_t>(frames_)};
    if (callback_)
      callback_(data, sizeof data, key, static_cast<uint64_t>(frames_));
  }
  void RequestKeyframe() override { keyRequested_ = true; }
  void SetBitrate(uint32_t bps) override { bitrate_ = bps; }
  uint32_t Bitrate() const override { return bitrate_; }
  void SetPeakBitrate(uint32_t) override {}
  void SetGopSize(int frames) override { gop_ = frames; }
  int GopSize() const override { return gop_; }
  void SetCodec(Codec codec) override { codec_ = codec; }
  Codec GetCodec() const override { return codec_; }
  void SetRateControl(RateControlMode mode, float quality) override {
    rc_ = mode;
    quality_ = quality;
  }
  float Quality() const { return quality_; }
  RateControlMode GetRateControl() const override { return rc_; }
  void CompressEmergency(int) override { keyRequested_ = true; }
  void SetFrameCap(uint32_t cap) override { frameCap_ = ClampFrameCap(cap); }
  uint32_t FrameCap() const override { return frameCap_; }
  void SetOutputCallback(EncodedFrameCallback callback) override {
    callback_ = std::move(callback);
  }
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& s) override {
    if (world_->failClone)
      return nullptr;
    ++world_->clones;
    auto clone = std::make_unique<FakeEncoder>(world_, world_->cloneFramesBeforeKeyframe.load());
    clone->gop_ = s.gopFrames < 1 ? 1 : s.gopFrames;
    clone->codec_ = s.codec;
    clone->rc_ = s.rateControl;
    if (!clone->Configure(s.width, s.height, s.bitrateBps, s.fps))
      return nullptr;
    return clone;
  }
  bool HasProducedKeyframe() const override { return produced_; }

 private:
  std::shared_ptr<FakeEncoderWorld> world_;
  const int serial_;
  const int keyAfter_;
  std::atomic<bool> configured_{false};
  std::atomic<int> width_{0}, height_{0}, fps_{30}, gop_{1}, frames_{0};
  std::atomic<uint32_t> bitrate_{0}, frameCap_{kDefaultFrameCap};
  std::atomic<Codec> codec_{Codec::HEVC};
  std::atomic<RateControlMode> rc_{RateControlMode::Bitrate};
  std::atomic<float> quality_{0.75f};
  std::atomic<bool> keyRequested_{false}, produced_{false};
  EncodedFrameCallback callback_;
};

}  // namespace Sorvane::test
