#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/thread_annotations.h"
#include "encoder/encoded_output.h"
#include "encoder/hardware_encoder.h"

namespace Sorvane {

// What every real encoder keeps alike: the settings that the pipeline and the phone change while
// it runs, the encoder lock under which a change that the codec takes only when it opens reopens
// it, the one delivery routine and the description. An encoder supplies how it opens, tells
// whether it is open, and tears down; its destructor tears down under the lock.
class LiveSettingsEncoder : public IHardwareEncoder {
 public:
  bool Configure(int width, int height, uint32_t bitrateBps, int fps) override;
  void Shutdown() override;
  bool IsConfigured() const override { return configured_.load(); }
  int Width() const override { return width_.load(); }
  int Height() const override { return height_.load(); }
  int FrameRate() const override { return fps_.load(); }
  std::string Description() const override;
  void RequestKeyframe() override { keyframeRequested_.store(true); }
  uint32_t Bitrate() const override { return bitrate_.load(); }
  void SetGopSize(int frames) override;
  int GopSize() const override { return gopFrames_.load(); }
  void SetCodec(Codec codec) override;
  Codec GetCodec() const override { return codec_.load(); }
  void SetRateControl(RateControlMode mode, float quality) override;
  RateControlMode GetRateControl() const override { return rateControl_.load(); }
  void CompressEmergency(int frames) override;
  void SetFrameCap(uint32_t cap) override;
  uint32_t FrameCap() const override { return frameCap_.load(); }
  bool HasProducedKeyframe() const override { return output_.KeyframeProduced(); }
  EncoderKind Kind() const override { return kind_.load(); }
  bool NeedsReopen() const override { return needsReopen_.load(); }

  // Takes every field of `settings` and opens the encoder with them: how the pipeline's clones
  // and the measurements open an encoder like the stream's. False when no encoder opens.
  bool Apply(const EncoderSettings& settings);
  // The settings as they stand (what Apply would take to open the same encoder again).
  EncoderSettings Settings() const;

 protected:
  virtual bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps)
      REQUIRES(lock_) = 0;
  virtual void TearDownLocked() REQUIRES(lock_) = 0;
  virtual bool IsOpenLocked() const REQUIRES(lock_) = 0;

  // Opens again at the current size, rate and bit rate, when open.
  void ReopenLocked() REQUIRES(lock_);
  // Set by the encoder when it finds its device or transform gone (true for the call that set
  // it); forgotten by its teardown, once nothing of the old session can report any more.
  bool MarkNeedsReopen() { return !needsReopen_.exchange(true); }
  void ForgetLoss() { needsReopen_.store(false); }
  EncoderSettings SettingsLocked() const REQUIRES(lock_);
  // Takes one of the frames that emergency compression asked for, if any are left.
  bool TakeEmergencyFrame();
  // The description this encoder answers and the process-wide one, together.
  void SetDescriptions(const std::string& text);

  // A new encoder of the same kind with every setting of `settings`, configured; null (logged)
  // when it does not configure.
  template <class Encoder>
  static std::unique_ptr<IHardwareEncoder> CloneAs(const EncoderSettings& settings) {
    auto clone = std::make_unique<Encoder>();
    if (clone->Apply(settings))
      return clone;
    LogCloneFailure(settings);
    return nullptr;
  }

  // The encoder lock: Configure, teardown, EncodeFrame and the setters that touch the codec.
  // Synchronous output is delivered under it.
  mutable std::mutex lock_;
  float quality_ GUARDED_BY(lock_) = 0.75f;
  // Its configuration is written under lock_; its callback swap never waits for a delivery.
  EncodedOutput output_;

  std::atomic<bool> configured_{false};
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  std::atomic<int> fps_{30};
  std::atomic<uint32_t> bitrate_{kDefaultBitrateBps};
  std::atomic<uint32_t> peakBitrate_{0};
  std::atomic<int> gopFrames_{1};
  std::atomic<Codec> codec_{Codec::HEVC};
  std::atomic<RateControlMode> rateControl_{RateControlMode::Bitrate};
  std::atomic<uint32_t> frameCap_{kDefaultFrameCap};
  std::atomic<bool> keyframeRequested_{true};
  std::atomic<int> emergencyFrames_{0};
  std::atomic<bool> shortRowsLogged_{false};
  std::atomic<EncoderKind> kind_{EncoderKind::Unknown};  // written by the open and the teardown

 private:
  static void LogCloneFailure(const EncoderSettings& settings);

  std::atomic<bool> needsReopen_{false};
  mutable std::mutex descriptionLock_;  // guards only the description, so reading never waits
  std::string description_ GUARDED_BY(descriptionLock_);
};

}  // namespace Sorvane
