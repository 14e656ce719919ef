#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/encoded_output.h"
#include "encoder/hardware_encoder.h"
#include "encoder/libav_session.h"

namespace Sorvane {

// The Linux encoder: FFmpeg's libavcodec. Configure takes the first encoder that opens here for
// the codec (NVENC, VAAPI, Quick Sync, then libx264 / libx265), tuned for zero latency, and
// feeds it the frames converted on the CPU.
class LibavEncoder final : public IHardwareEncoder {
 public:
  LibavEncoder() = default;
  ~LibavEncoder() override;
  LibavEncoder(const LibavEncoder&) = delete;
  LibavEncoder& operator=(const LibavEncoder&) = delete;

  bool Configure(int width, int height, uint32_t bitrateBps, int fps) override;
  void Shutdown() override;
  bool IsConfigured() const override { return configured_.load(); }
  int Width() const override { return width_.load(); }
  int Height() const override { return height_.load(); }
  int FrameRate() const override { return fps_.load(); }
  std::string Description() const override;
  void EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) override;
  void RequestKeyframe() override { keyframeRequested_.store(true); }
  void SetBitrate(uint32_t bps) override;
  uint32_t Bitrate() const override { return bitrate_.load(); }
  void SetPeakBitrate(uint32_t bps) override;
  void SetGopSize(int frames) override;
  int GopSize() const override { return gopFrames_.load(); }
  void SetCodec(Codec codec) override;
  Codec GetCodec() const override { return codec_.load(); }
  void SetRateControl(RateControlMode mode, float quality) override;
  RateControlMode GetRateControl() const override { return rateControl_.load(); }
  void CompressEmergency(int frames) override;
  void SetFrameCap(uint32_t cap) override;
  uint32_t FrameCap() const override { return frameCap_.load(); }
  void SetOutputCallback(EncodedFrameCallback callback) override;
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& settings) override;
  bool HasProducedKeyframe() const override { return output_.KeyframeProduced(); }
  void SetQualityMode(float quality) override;
  void SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) override;

  // Takes every field of `settings` and opens the encoder with them: how the pipeline's clones
  // and the measurements open an encoder like the stream's. False when no encoder opens.
  bool Apply(const EncoderSettings& settings);
  // The settings as they stand (what Apply would take to open the same encoder again).
  EncoderSettings Settings() const;

  // Nanoseconds spent scaling and converting frames since construction (for measurements).
  uint64_t ConversionNs() const { return conversionNs_.load(); }
  // Measurements only: the libx264 / libx265 preset for the next Configure instead of ours.
  void SetSoftwarePresetForMeasurement(std::string preset);

 private:
  bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) REQUIRES(lock_);
  bool OpenFirstCandidate(int codedWidth, int codedHeight) REQUIRES(lock_);
  void TearDownLocked() REQUIRES(lock_);
  void ReopenLocked() REQUIRES(lock_);
  bool DecideKeyframeLocked() REQUIRES(lock_);
  bool TakeEmergencyFrame();
  RateFields CurrentRatesLocked() const REQUIRES(lock_);
  EncoderSettings SettingsLocked() const REQUIRES(lock_);
  const uint8_t* ScaledSourceLocked(const uint8_t* bgra, int width, int height, int* strideBytes)
      REQUIRES(lock_);
  void SetDescriptions(const std::string& text);

  // The encoder lock: Configure, teardown, EncodeFrame and the setters that touch the codec. The
  // output callback runs under it, inside EncodeFrame.
  mutable std::mutex lock_;
  std::unique_ptr<LibavSession> session_ GUARDED_BY(lock_);
  std::vector<uint8_t> scaled_ GUARDED_BY(lock_);  // source brought to the configured size
  int64_t frameIndex_ GUARDED_BY(lock_) = 0;       // time line position of the next frame
  int framesSinceKey_ GUARDED_BY(lock_) = 0;
  float quality_ GUARDED_BY(lock_) = 0.75f;
  std::string softwarePreset_ GUARDED_BY(lock_);
  // Its configuration is written under lock_; its callback swap takes no part of lock_.
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
  std::atomic<uint64_t> conversionNs_{0};

  mutable std::mutex descriptionLock_;  // guards only the description, so reading never waits
  std::string description_ GUARDED_BY(descriptionLock_);
};

}  // namespace Sorvane
