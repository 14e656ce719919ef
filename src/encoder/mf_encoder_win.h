#pragma once
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/com_ref_win.h"
#include "encoder/d3d11_device_win.h"
#include "encoder/d3d11_nv12_converter_win.h"
#include "encoder/encoded_output.h"
#include "encoder/hardware_encoder.h"
#include "encoder/mf_startup_win.h"
#include "encoder/mf_transform_walk_win.h"

struct ICodecAPI;

namespace Sorvane {

class AsyncTransformDriver;

// The Windows encoder: one Media Foundation encoder transform, chosen at every Configure
// (hardware synchronous, hardware asynchronous when the user allows it, software), fed NV12
// converted on the GPU or the CPU, driven in the caller's thread or by the transform's events.
class MediaFoundationEncoder final : public IHardwareEncoder {
 public:
  MediaFoundationEncoder();
  ~MediaFoundationEncoder() override;
  MediaFoundationEncoder(const MediaFoundationEncoder&) = delete;
  MediaFoundationEncoder& operator=(const MediaFoundationEncoder&) = delete;

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

  // Whether the open transform is driven by its events.
  bool IsAsync() const { return asyncActive_.load(); }
  uint64_t GpuConversions() const;

 private:
  bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) REQUIRES(lock_);
  void TearDownLocked() REQUIRES(lock_);
  CandidateVerdict FinishCandidate(CandidateTransform& candidate) REQUIRES(lock_);
  bool StartSyncStreaming() REQUIRES(lock_);
  void ReleaseTransformLocked() REQUIRES(lock_);
  void SetDescriptions(const std::string& text);
  void ReopenLocked() REQUIRES(lock_);

  // Frame path.
  const uint8_t* SourceAtCodedSize(const uint8_t* bgra, int width, int height, int* strideBytes)
      REQUIRES(lock_);
  void ConvertToNv12(const uint8_t* src, int strideBytes, uint8_t* nv12) REQUIRES(lock_);
  bool DecideKeyframeLocked(IMFSample* sample) REQUIRES(lock_);
  void EncodeSyncLocked(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  void PushAsyncLocked(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  void DrainLocked(uint64_t timestampUs) REQUIRES(lock_);

  MfStartupScope startup_;

  // The encoder lock: Configure, teardown, EncodeFrame and the setters that touch the transform.
  // Synchronous output is delivered under it.
  mutable std::mutex lock_;
  EncoderDevice device_ GUARDED_BY(lock_);
  D3d11Nv12Converter gpu_ GUARDED_BY(lock_);
  CandidateTransform chosen_ GUARDED_BY(lock_);
  ComRef<ICodecAPI> codecApi_ GUARDED_BY(lock_);
  ComRef<IMFSample> inputSample_ GUARDED_BY(lock_);  // reused, synchronous mode only
  ComRef<IMFMediaBuffer> inputBuffer_ GUARDED_BY(lock_);
  std::unique_ptr<AsyncTransformDriver> async_ GUARDED_BY(lock_);
  int codedWidth_ GUARDED_BY(lock_) = 0;  // even: NV12 needs whole chroma rows
  int codedHeight_ GUARDED_BY(lock_) = 0;
  size_t lumaBytes_ GUARDED_BY(lock_) = 0;
  size_t frameBytes_ GUARDED_BY(lock_) = 0;
  int64_t sampleTime_ GUARDED_BY(lock_) = 0;  // 100 ns units, of the next frame
  int64_t frameDuration_ GUARDED_BY(lock_) = 0;
  int framesSinceKey_ GUARDED_BY(lock_) = 0;
  float quality_ GUARDED_BY(lock_) = 0.75f;
  std::vector<uint8_t> scaled_ GUARDED_BY(lock_);
  // Its configuration is written under lock_; its callback swap never waits for a delivery.
  EncodedOutput output_;

  std::atomic<bool> configured_{false};
  std::atomic<bool> asyncActive_{false};
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
  std::atomic<uint32_t> lockFailures_{0};
  std::atomic<bool> shortRowsLogged_{false};
  std::atomic<uint64_t> gpuConversions_{0};

  mutable std::mutex descriptionLock_;  // guards only the description, so reading never waits
  std::string description_ GUARDED_BY(descriptionLock_);
};

}  // namespace Sorvane
