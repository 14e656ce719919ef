#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/thread_annotations.h"
#include "encoder/hardware_encoder.h"
#include "sdk/ppix_suite.h"
#include "sdk/sp_basic.h"
#include "sdk/time_suite.h"
#include "sdk/transmit.h"

namespace Sorvane {

class EncoderPipeline;

using EncoderFactoryFn = std::function<std::shared_ptr<IHardwareEncoder>()>;

// Width, height and frame rate of a source or stream; zeroes mean "none".
struct SourceDims {
  int32_t width = 0;
  int32_t height = 0;
  int32_t fps = 0;
  bool operator==(const SourceDims&) const = default;
};

// One per host output: owns the encoder pipeline, takes the host's frames and audio, and serves
// the client's commands.
class TransmitInstance {
 public:
  TransmitInstance(const sdk::SPBasicSuite* basicSuite, const EncoderFactoryFn& encoderFactory);
  ~TransmitInstance();
  TransmitInstance(const TransmitInstance&) = delete;
  TransmitInstance& operator=(const TransmitInstance&) = delete;

  void Start();
  void Stop();
  void SetAudioFormat(float sampleRate, uint32_t channels);
  void SetVideoFrameRate(int64_t ticksPerFrame);
  void StartPlaybackClock() {}
  void StopPlaybackClock() {}
  void PushVideo(const sdk::tmPushVideo* push);
  void PushAudio(const sdk::tmPushAudio* push);

  bool IsActive() const { return started_.load(); }
  bool HasPipeline() const;

  // Read-outs for tests and the status rows.
  int32_t Fps() const { return fps_.load(); }
  uint32_t AudioSampleRate() const { return audioSampleRate_.load(); }
  uint32_t AudioChannels() const { return audioChannels_.load(); }

 private:
  void AcquireSuites();
  void ReleaseSuites();
  void InstallEncoderCallback(EncoderPipeline& pipeline);
  void OnEncodedFrame(const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs);
  void DisposeFrame(sdk::PPixHand frame);
  std::shared_ptr<EncoderPipeline> CopyPipeline() const;

  const sdk::SPBasicSuite* basicSuite_;  // the host's; never owned
  std::atomic<const sdk::PrSDKPPixSuite*> ppixSuite_{nullptr};
  mutable std::shared_mutex pipelineLock_;
  std::shared_ptr<EncoderPipeline> pipeline_ GUARDED_BY(pipelineLock_);
  std::atomic<bool> started_{false};
  std::chrono::steady_clock::time_point createdAt_;
  std::atomic<uint32_t> audioSampleRate_{48000};
  std::atomic<uint32_t> audioChannels_{2};
  std::atomic<int32_t> fps_{30};
  std::atomic<int32_t> shortSideCap_{0};
  std::atomic<uint8_t> legacyEngineFlag_{0};
  // Source-description state: written by the push thread and the new-client handler.
  SourceDims committedSource_;
  SourceDims candidateSource_;
  int64_t candidateSince_ = 0;
  std::atomic<uint32_t> rateControlMode_{0};
  std::vector<float> audioScratch_;  // owned by the audio push thread
  std::string engineId_ = "auto";
  SourceDims lastStreamInfo_;
  std::string lastEncoderDesc_;
  struct FrameCache {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    bool valid = false;
  };
  std::mutex frameCacheLock_;
  FrameCache frameCache_ GUARDED_BY(frameCacheLock_);
  uint32_t lastUnsupportedFormat_ = 0;
  std::atomic<int64_t> lastEncoderOutputNs_{0};
  std::atomic<int64_t> lastStallRebuildNs_{0};
};

}  // namespace Sorvane
