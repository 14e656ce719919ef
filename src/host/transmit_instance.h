#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "encoder/encoder_factory.h"
#include "encoder/hardware_encoder.h"
#include "net/transport_client.h"
#include "sdk/ppix_suite.h"
#include "sdk/sp_basic.h"
#include "sdk/time_suite.h"
#include "sdk/transmit.h"

namespace Sorvane {

class EncoderPipeline;
class SharedTransport;

// Width, height and frame rate of a source or stream; zeroes mean "none".
struct SourceDims {
  int32_t width = 0;
  int32_t height = 0;
  int32_t fps = 0;
  bool operator==(const SourceDims&) const = default;
};

// The encoded size for a source under the phone's short-side cap (0 = no cap).
std::pair<int32_t, int32_t> ComputeTargetSize(int32_t width, int32_t height, int32_t cap);

// One per host output: owns the encoder pipeline, takes the host's frames and audio, and serves
// the client's commands.
class TransmitInstance final : public ITransportClient {
 public:
  // `transport` null = the process-wide shared transport; `clock` null = the steady clock.
  TransmitInstance(const sdk::SPBasicSuite* basicSuite, const EncoderFactoryFn& encoderFactory,
                   SharedTransport* transport = nullptr, const Clock* clock = nullptr);
  ~TransmitInstance() override;
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

  // ITransportClient: called on the transport's threads, which no exception may reach.
  void HandleControl(uint8_t opcode, const uint8_t* payload, size_t length) override;
  void OnNewClient() override;
  void OnUdpFailures() override;
  bool IsActive() const override { return started_.load(); }

  bool HasPipeline() const;

  // Read-outs for tests and the status rows.
  int32_t Fps() const { return fps_.load(); }
  uint32_t AudioSampleRate() const { return audioSampleRate_.load(); }
  uint32_t AudioChannels() const { return audioChannels_.load(); }
  int32_t ShortSideCap() const { return shortSideCap_.load(); }
  std::shared_ptr<EncoderPipeline> CopyPipeline() const;

 private:
  static constexpr uint32_t kEncoderBitrate = 150'000'000;

  // Lifecycle and suites.
  void AcquireSuites();
  void ReleaseSuites();
  void InstallEncoderCallback(EncoderPipeline& pipeline);
  void DisposeFrame(sdk::PPixHand frame);

  // Video push path.
  void EncodeHostFrame(sdk::PPixHand frame);
  bool AcceptFrameGeometry(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes);
  void SetUpEncoderIfNeeded(EncoderPipeline& pipeline, int32_t width, int32_t height, int32_t fps,
                            int32_t targetWidth, int32_t targetHeight);
  // Configures the pipeline's encoder, falling back to H.264; false when it stays closed. A
  // failed size is tried again only after a growing pause.
  bool WaitingToRetryOpen(const SourceDims& target) const;
  bool OpenEncoder(EncoderPipeline& pipeline, int32_t width, int32_t height, int32_t fps);
  bool FallBackToH264(EncoderPipeline& pipeline, int32_t width, int32_t height, int32_t fps);
  void CheckForStall(EncoderPipeline& pipeline, int32_t targetWidth, int32_t targetHeight,
                     int32_t fps);
  void NoteFrameFed();
  void NoteEncoderOutput();
  void CheckSourceChange(int32_t width, int32_t height, int32_t fps);
  void CacheFrame(const uint8_t* pixels, int32_t width, int32_t height, int32_t rowBytes);
  void OnEncodedFrame(const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs);
  void SendEncodedFrame(const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs);
  uint64_t MicrosecondsSinceCreation() const;

  // Stream descriptions.
  bool SendSourceChanged(const SourceDims& source) REQUIRES(descriptionLock_);
  void SendStreamInfoIfReady() REQUIRES(descriptionLock_);
  void SendEncoderInfoIfChanged() REQUIRES(descriptionLock_);
  // The encoder description the client has not been told yet, cut to the wire's limit.
  std::optional<std::string> EncoderInfoToSend() REQUIRES(descriptionLock_);
  bool SendEncoderInfo(const std::string& cut);
  bool SendEncoderInfoText(const std::string& text);
  void SendHostPlatform();
  // From the process's engine catalog, taken before any lock (see EngineCatalog).
  void SendEncoderEngineList(std::optional<std::vector<EncoderEngine>> engines);
  void PublishUiStatus() REQUIRES(descriptionLock_);

  // Client commands.
  void ApplyControl(uint8_t opcode, const uint8_t* payload, size_t length);
  void GreetNewClient();
  void HandleSetGopMode(EncoderPipeline* pipeline, const uint8_t* payload, size_t length);
  void HandleSetCodec(EncoderPipeline* pipeline, const uint8_t* payload, size_t length);
  void HandleSetMaxResolution(const uint8_t* payload, size_t length);
  void HandleSetEncoderMode(EncoderPipeline* pipeline, const uint8_t* payload, size_t length);
  void HandleSetEncoderEngine(const uint8_t* payload, size_t length);
  void HandleAppSettingsSnapshot(const uint8_t* payload, size_t length);
  void HandleTestMarker(const uint8_t* payload, size_t length);
  void SwitchEncoderEngine(const std::string& id);
  void ReplayCachedFrame();
  void Acknowledge(uint8_t opcode);

  SharedTransport& transport_;
  const Clock& clock_;
  const sdk::SPBasicSuite* basicSuite_;    // the host's; never owned
  const EncoderFactoryFn encoderFactory_;  // the initial encoder and every engine switch's
  std::atomic<const sdk::PrSDKPPixSuite*> ppixSuite_{nullptr};
  mutable std::shared_mutex pipelineLock_;
  std::shared_ptr<EncoderPipeline> pipeline_ GUARDED_BY(pipelineLock_);
  std::atomic<bool> started_{false};
  int64_t createdAtNs_ = 0;  // set once at construction
  std::atomic<uint32_t> audioSampleRate_{48000};
  std::atomic<uint32_t> audioChannels_{2};
  std::atomic<int32_t> fps_{30};
  std::atomic<int32_t> shortSideCap_{0};
  std::atomic<uint8_t> legacyEngineFlag_{0};
  // What the client has been told about the stream: written by the push thread, the new-client
  // handler and the engine switch.
  std::mutex descriptionLock_;
  SourceDims committedSource_ GUARDED_BY(descriptionLock_);
  SourceDims candidateSource_ GUARDED_BY(descriptionLock_);
  int64_t candidateSinceNs_ GUARDED_BY(descriptionLock_) = 0;
  SourceDims lastStreamInfo_ GUARDED_BY(descriptionLock_);
  std::string lastEncoderDesc_ GUARDED_BY(descriptionLock_);
  std::atomic<uint32_t> rateControlMode_{0};
  std::vector<float> audioScratch_;  // owned by the audio push thread
  std::mutex engineLock_;            // serialises engine switches
  std::string engineId_ GUARDED_BY(engineLock_) = "auto";
  struct FrameCache {
    std::vector<uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    bool valid = false;
  };
  std::mutex frameCacheLock_;
  FrameCache frameCache_ GUARDED_BY(frameCacheLock_);
  uint32_t lastUnsupportedFormat_ = 0;        // owned by the push thread
  std::pair<int32_t, int32_t> lastShortRow_;  // owned by the push thread: (width, rowBytes) logged
  // The last size the encoder failed to open at, and when to try it again. Owned by the push
  // thread.
  struct OpenRetry {
    SourceDims target;
    int failures = 0;
    int64_t nextAttemptNs = 0;
  };
  OpenRetry openRetry_;
  std::atomic<int64_t> lastEncoderOutputNs_{0};
  // When the first frame fed since the last output went in (0: none waiting). The stall is timed
  // from it, so a pause of the host's, during which nothing is fed, never counts.
  std::atomic<int64_t> firstFedSinceOutputNs_{0};
  std::atomic<int64_t> lastStallRebuildNs_{0};
  bool registered_ = false;
};

}  // namespace Sorvane
