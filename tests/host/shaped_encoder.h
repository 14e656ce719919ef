#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "encoder/hardware_encoder.h"

namespace Sorvane::test {

// How the shaped encoders of one test misbehave, and what was asked of them.
struct EncoderShape {
  std::atomic<bool> silent{false};     // output stops, as a hung hardware encoder's does
  std::atomic<size_t> outputBytes{0};  // non-zero: every access unit is this large
  std::atomic<int> configures{0};
  std::atomic<int> emergencies{0};
  std::atomic<int> keyframeRequests{0};

  // Zeroes of the size asked for, kept for the whole test.
  const uint8_t* Bytes(size_t size) {
    std::lock_guard<std::mutex> lock(bytesLock);
    if (bytes.size() < size)
      bytes.resize(size);
    return bytes.data();
  }
  std::mutex bytesLock;
  std::vector<uint8_t> bytes;  // guarded by bytesLock
};

// Wraps a working encoder and bends its output as the shape says.
class ShapedEncoder final : public IHardwareEncoder {
 public:
  ShapedEncoder(std::shared_ptr<IHardwareEncoder> inner, std::shared_ptr<EncoderShape> shape)
      : inner_(std::move(inner)), shape_(std::move(shape)) {}

  bool Configure(int w, int h, uint32_t bps, int fps) override {
    ++shape_->configures;
    return inner_->Configure(w, h, bps, fps);
  }
  void Shutdown() override { inner_->Shutdown(); }
  bool IsConfigured() const override { return inner_->IsConfigured(); }
  int Width() const override { return inner_->Width(); }
  int Height() const override { return inner_->Height(); }
  int FrameRate() const override { return inner_->FrameRate(); }
  std::string Description() const override { return inner_->Description(); }
  void EncodeFrame(const uint8_t* bgra, int w, int h, int stride) override {
    inner_->EncodeFrame(bgra, w, h, stride);
  }
  void RequestKeyframe() override {
    ++shape_->keyframeRequests;
    inner_->RequestKeyframe();
  }
  void SetBitrate(uint32_t bps) override { inner_->SetBitrate(bps); }
  uint32_t Bitrate() const override { return inner_->Bitrate(); }
  void SetPeakBitrate(uint32_t bps) override { inner_->SetPeakBitrate(bps); }
  void SetGopSize(int frames) override { inner_->SetGopSize(frames); }
  int GopSize() const override { return inner_->GopSize(); }
  void SetCodec(Codec codec) override { inner_->SetCodec(codec); }
  Codec GetCodec() const override { return inner_->GetCodec(); }
  void SetRateControl(RateControlMode mode, float quality) override {
    inner_->SetRateControl(mode, quality);
  }
  RateControlMode GetRateControl() const override { return inner_->GetRateControl(); }
  void CompressEmergency(int frames) override {
    ++shape_->emergencies;
    inner_->CompressEmergency(frames);
  }
  void SetFrameCap(uint32_t cap) override { inner_->SetFrameCap(cap); }
  uint32_t FrameCap() const override { return inner_->FrameCap(); }
  void SetOutputCallback(EncodedFrameCallback callback) override {
    inner_->SetOutputCallback([shape = shape_, callback = std::move(callback)](
                                  const uint8_t* data, size_t size, bool key, uint64_t time) {
      if (shape->silent || !callback)
        return;
      const size_t forced = shape->outputBytes;
      if (forced != 0)
        callback(shape->Bytes(forced), forced, key, time);
      else
        callback(data, size, key, time);
    });
  }
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& settings) override {
    std::shared_ptr<IHardwareEncoder> inner = inner_->Clone(settings);
    return inner ? std::make_unique<ShapedEncoder>(std::move(inner), shape_) : nullptr;
  }
  bool HasProducedKeyframe() const override { return inner_->HasProducedKeyframe(); }

 private:
  std::shared_ptr<IHardwareEncoder> inner_;
  std::shared_ptr<EncoderShape> shape_;
};

}  // namespace Sorvane::test
