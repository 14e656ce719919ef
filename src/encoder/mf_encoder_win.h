#pragma once
#include <mfidl.h>
#include <mftransform.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/com_ref_win.h"
#include "encoder/d3d11_device_win.h"
#include "encoder/gpu_nv12_converter_win.h"
#include "encoder/live_settings_encoder.h"
#include "encoder/mf_codec_api_win.h"
#include "encoder/mf_startup_win.h"
#include "encoder/mf_transform_walk_win.h"
#include "encoder/repeating_line.h"

namespace Sorvane {

class AsyncTransformDriver;

// The Windows encoder: one Media Foundation encoder transform, chosen at every Configure
// (hardware synchronous, hardware asynchronous when the user allows it, software), fed NV12
// converted on the GPU or the CPU, driven in the caller's thread or by the transform's events.
class MediaFoundationEncoder final : public LiveSettingsEncoder {
 public:
  // `gpu` null: the Direct3D 11 compute shader.
  explicit MediaFoundationEncoder(std::unique_ptr<GpuNv12Converter> gpu = nullptr);
  ~MediaFoundationEncoder() override;
  MediaFoundationEncoder(const MediaFoundationEncoder&) = delete;
  MediaFoundationEncoder& operator=(const MediaFoundationEncoder&) = delete;

  void EncodeFrame(const uint8_t* bgra, int width, int height, int strideBytes) override;
  void SetBitrate(uint32_t bps) override;
  void SetPeakBitrate(uint32_t bps) override;
  void SetOutputCallback(EncodedFrameCallback callback) override;
  std::unique_ptr<IHardwareEncoder> Clone(const EncoderSettings& settings) override;
  void SetQualityMode(float quality) override;
  void SetHrdBufferBits(int64_t bufferBits, int64_t avgBitrateBps) override;

  // Whether the open transform is driven by its events.
  bool IsAsync() const { return asyncActive_.load(); }
  uint64_t GpuConversions() const;

 private:
  bool ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) override
      REQUIRES(lock_);
  void TearDownLocked() override REQUIRES(lock_);
  bool IsOpenLocked() const override REQUIRES(lock_) { return bool(chosen_.transform); }
  CandidateVerdict FinishCandidate(CandidateTransform& candidate) REQUIRES(lock_);
  bool StartSyncStreaming() REQUIRES(lock_);
  RateSettings CurrentRates() const REQUIRES(lock_);
  void ReleaseTransformLocked() REQUIRES(lock_);

  // Frame path.
  const uint8_t* SourceAtCodedSize(const uint8_t* bgra, int width, int height, int* strideBytes)
      REQUIRES(lock_);
  void ConvertToNv12(const uint8_t* src, int strideBytes, uint8_t* nv12) REQUIRES(lock_);
  bool GpuMatchesCpu(const uint8_t* src, int strideBytes, uint8_t* nv12) REQUIRES(lock_);
  bool FillInput(IMFMediaBuffer* buffer, const uint8_t* src, int strideBytes) REQUIRES(lock_);
  ComRef<IMFSample> NewInputSample(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  ComRef<IMFSample> InputSampleFor(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  bool DecideKeyframeLocked(IMFSample* sample) REQUIRES(lock_);
  std::optional<uint64_t> ApplyEmergencyQp() REQUIRES(lock_);
  void EncodeSyncLocked(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  void PushAsyncLocked(const uint8_t* src, int strideBytes) REQUIRES(lock_);
  void DrainLocked(uint64_t timestampUs) REQUIRES(lock_);
  // A failure that leaves nothing working (the device is gone, or the event loop stopped)
  // asks for a reopen; takes no lock.
  void OnTransformFailure(HRESULT status, ID3D11Device* device, bool loopStopped);

  MfStartupScope startup_;

  EncoderDevice device_ GUARDED_BY(lock_);
  const std::unique_ptr<GpuNv12Converter> gpu_ GUARDED_BY(lock_);
  bool gpuChecked_ GUARDED_BY(lock_) = false;  // the first GPU frame of this Configure was compared
  bool gpuDistrusted_ GUARDED_BY(lock_) = false;  // it differed: the CPU converts from now on
  CandidateTransform chosen_ GUARDED_BY(lock_);
  ComRef<ICodecAPI> codecApi_ GUARDED_BY(lock_);
  PropertyRejections rejections_ GUARDED_BY(lock_);  // of the current Configure
  bool qpRefusalLogged_ GUARDED_BY(lock_) = false;
  // Synchronous mode: reused only when the transform copies what it is given
  // (MFT_INPUT_STREAM_DOES_NOT_ADDREF); otherwise each frame has a sample of its own.
  bool reuseInput_ GUARDED_BY(lock_) = false;
  ComRef<IMFSample> inputSample_ GUARDED_BY(lock_);
  ComRef<IMFMediaBuffer> inputBuffer_ GUARDED_BY(lock_);
  std::unique_ptr<AsyncTransformDriver> async_ GUARDED_BY(lock_);
  int codedWidth_ GUARDED_BY(lock_) = 0;  // even: NV12 needs whole chroma rows
  int codedHeight_ GUARDED_BY(lock_) = 0;
  size_t lumaBytes_ GUARDED_BY(lock_) = 0;
  size_t frameBytes_ GUARDED_BY(lock_) = 0;
  int64_t sampleTime_ GUARDED_BY(lock_) = 0;  // 100 ns units, of the next frame
  int64_t frameDuration_ GUARDED_BY(lock_) = 0;
  int framesSinceKey_ GUARDED_BY(lock_) = 0;
  std::vector<uint8_t> scaled_ GUARDED_BY(lock_);
  RepeatingLine inputFailures_;
  RepeatingLine outputFailures_;

  std::atomic<bool> asyncActive_{false};
  std::atomic<uint32_t> lockFailures_{0};
  std::atomic<uint64_t> gpuConversions_{0};
};

}  // namespace Sorvane
