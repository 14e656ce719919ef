#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/libav_session.h"
#include "encoder/live_settings_encoder.h"

namespace Sorvane {

// The Linux encoder: FFmpeg's libavcodec. Configure takes the first encoder that opens here for
// the codec (NVENC, VAAPI, Quick Sync, then libx264 / libx265), tuned for zero latency, and
// feeds it the frames converted on the CPU.
class LibavEncoder final : public LiveSettingsEncoder {
 public:
  LibavEncoder() = default;
  ~LibavEncoder() override;
  LibavEncoder(const LibavEncoder&) = delete;
  LibavEncoder& operator=(const LibavEncoder&) = delete;

  void EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) override;
  void SetBitrate(uint32_t bps) override;
  void SetPeakBitrate(uint32_t bps) override;
  void SetOutputCallback(EncodedFrameCallback callback) override;
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& settings) override;
  void SetQualityMode(float quality) override;
  void SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) override;

  // Nanoseconds spent scaling and converting frames since construction (for measurements).
  uint64_t ConversionNs() const { return conversionNs_.load(); }
  // Measurements only: the libx264 / libx265 preset for the next Configure instead of ours.
  void SetSoftwarePresetForMeasurement(std::string preset);

 private:
  bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) override
      REQUIRES(lock_);
  void TearDownLocked() override REQUIRES(lock_);
  bool IsOpenLocked() const override REQUIRES(lock_) { return session_ != nullptr; }
  bool OpenFirstCandidate(int codedWidth, int codedHeight) REQUIRES(lock_);
  bool DecideKeyframeLocked() REQUIRES(lock_);
  RateFields CurrentRatesLocked() const REQUIRES(lock_);
  const uint8_t* ScaledSourceLocked(const uint8_t* bgra, int width, int height, int* strideBytes)
      REQUIRES(lock_);

  std::unique_ptr<LibavSession> session_ GUARDED_BY(lock_);
  std::vector<uint8_t> scaled_ GUARDED_BY(lock_);  // source brought to the configured size
  int64_t frameIndex_ GUARDED_BY(lock_) = 0;       // time line position of the next frame
  int framesSinceKey_ GUARDED_BY(lock_) = 0;
  std::string softwarePreset_ GUARDED_BY(lock_);
  std::atomic<uint64_t> conversionNs_{0};
};

}  // namespace Sorvane
