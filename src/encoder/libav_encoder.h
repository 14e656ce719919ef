#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/encoded_output.h"
#include "encoder/hardware_encoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace Sorvane {

// The Linux encoder: FFmpeg's libavcodec, a hardware encoder where one opens on this machine,
// else libx264 / libx265, tuned for zero latency (no B-frames, no lookahead: the access unit of
// frame N comes out before frame N + 1 goes in).
class LibavEncoder final : public IHardwareEncoder {
 public:
  LibavEncoder();
  ~LibavEncoder() override;

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
  bool HasProducedKeyframe() const override { return keyframeProduced_.load(); }
  void SetQualityMode(float quality) override;
  void SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) override;

  // The libavcodec encoder names tried for a codec, in order (hardware first).
  static std::vector<std::string> CandidateNames(Codec codec);
  // Whether the named encoder opens here at a small size (used to list engines).
  static bool EncoderOpens(const std::string& name, Codec codec);

 private:
  bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) REQUIRES(lock_);
  void TearDownLocked() REQUIRES(lock_);
  bool OpenEncoder(const std::string& name) REQUIRES(lock_);
  void ApplyRateControl(AVCodecContext* context) REQUIRES(lock_);
  void Reopen() REQUIRES(lock_);
  void Drain(uint64_t timestampUs) REQUIRES(lock_);
  void WritePicture(const uint8_t* bgra, int stride, int width, int height) REQUIRES(lock_);
  bool DecideKeyframe() REQUIRES(lock_);

  mutable std::mutex lock_;  // the encoder lock: configuration and encoding
  AVCodecContext* context_ GUARDED_BY(lock_) = nullptr;
  AVFrame* frame_ GUARDED_BY(lock_) = nullptr;
  AVPacket* packet_ GUARDED_BY(lock_) = nullptr;
  std::vector<uint8_t> scaled_ GUARDED_BY(lock_);
  std::vector<uint8_t> nv12_ GUARDED_BY(lock_);
  EncodedOutput output_ GUARDED_BY(lock_);
  int64_t nextPts_ GUARDED_BY(lock_) = 0;
  int framesSinceKey_ GUARDED_BY(lock_) = 0;
  float quality_ GUARDED_BY(lock_) = 0.75f;
  uint32_t peakBitrate_ GUARDED_BY(lock_) = 0;
  bool hardware_ GUARDED_BY(lock_) = false;
  std::string encoderName_ GUARDED_BY(lock_);
  bool shortRowLogged_ GUARDED_BY(lock_) = false;

  std::atomic<bool> configured_{false};
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  std::atomic<int> fps_{30};
  std::atomic<uint32_t> bitrate_{kDefaultBitrateBps};
  std::atomic<int> gopFrames_{1};
  std::atomic<Codec> codec_{Codec::HEVC};
  std::atomic<RateControlMode> rateControl_{RateControlMode::Bitrate};
  std::atomic<uint32_t> frameCap_{kDefaultFrameCap};
  std::atomic<bool> keyframeRequested_{false};
  std::atomic<bool> keyframeProduced_{false};
  std::atomic<int> emergencyFrames_{0};
  EncodedFrameCallback callback_;  // installed before frames flow (see the interface)
  mutable std::mutex descriptionLock_;
  std::string description_ GUARDED_BY(descriptionLock_);
};

// The description of the encoder configured last in this process.
std::string CurrentEncoderDescription();

}  // namespace Sorvane
