#include "host/transmit_instance.h"

#include <cmath>

#include "diag/debug_topics.h"
#include "diag/log_channels.h"
#include "encoder/engine_catalog.h"
#include "host/encoder_pipeline.h"
#include "net/shared_transport.h"

namespace Sorvane {

TransmitInstance::TransmitInstance(const sdk::SPBasicSuite* basicSuite,
                                   const EncoderFactoryFn& encoderFactory,
                                   SharedTransport* transport, const Clock* clock)
    : transport_(transport ? *transport : SharedTransport::Instance()),
      clock_(clock ? *clock : SteadyClock()),
      basicSuite_(basicSuite),
      encoderFactory_(encoderFactory),
      createdAtNs_(clock_.NowNs()) {
  EngineCatalog::Process().Prefetch();  // long before a client asks, and off every host thread
  std::shared_ptr<IHardwareEncoder> encoder =
      encoderFactory_ ? encoderFactory_(kDefaultEngine) : nullptr;
  if (!encoder) {
    Log(channels::kTransmit, kLogError,
        "TransmitInstance: encoder factory returned null — dormant");
    return;
  }
  auto pipeline = std::make_shared<EncoderPipeline>(std::move(encoder));
  {
    std::unique_lock lock(pipelineLock_);
    pipeline_ = pipeline;
  }
  Log(channels::kTransmit, kLogInfo, "TransmitInstance created");
  if (DebugTopicEnabled(DebugTopic::Encoder)) {
    DebugTopicLog(DebugTopic::Encoder, "TransmitInstance created — pipeline active");
  }
  createdAtNs_ = clock_.NowNs();
  InstallEncoderCallback(*pipeline);
  transport_.Acquire(this);
  registered_ = true;
}

TransmitInstance::~TransmitInstance() {
  std::shared_ptr<EncoderPipeline> pipeline = CopyPipeline();
  if (!pipeline)
    return;
  Log(channels::kTransmit, kLogInfo, "TransmitInstance destroyed");
  if (registered_)
    transport_.Release(this);
  Stop();
  pipeline->Shutdown();
  ReleaseSuites();
}

bool TransmitInstance::HasPipeline() const {
  return CopyPipeline() != nullptr;
}

std::shared_ptr<EncoderPipeline> TransmitInstance::CopyPipeline() const {
  std::shared_lock lock(pipelineLock_);
  return pipeline_;
}

void TransmitInstance::InstallEncoderCallback(EncoderPipeline& pipeline) {
  pipeline.SetOutputCallback(
      [this](const uint8_t* data, size_t size, bool keyframe, uint64_t timestampUs) {
        OnEncodedFrame(data, size, keyframe, timestampUs);
      });
}

uint64_t TransmitInstance::MicrosecondsSinceCreation() const {
  return static_cast<uint64_t>((clock_.NowNs() - createdAtNs_) / 1000);
}

void TransmitInstance::Start() {
  Log(channels::kTransmit, kLogInfo, "Start()");
  AcquireSuites();
  started_.store(true);
  {
    std::lock_guard<std::mutex> lock(descriptionLock_);
    lastStreamInfo_ = {};
    committedSource_ = {};
    lastEncoderDesc_.clear();
  }
  Log(channels::kTransmit, kLogDebug, "[dx] Start: dedup state invalidated for re-emit");
}

void TransmitInstance::Stop() {
  if (!started_.exchange(false))
    return;
  Log(channels::kTransmit, kLogInfo, "Stop()");
  std::lock_guard<std::mutex> lock(frameCacheLock_);
  std::vector<uint8_t>().swap(frameCache_.bytes);
  frameCache_.width = frameCache_.height = frameCache_.rowBytes = 0;
  frameCache_.valid = false;
}

void TransmitInstance::AcquireSuites() {
  if (basicSuite_ == nullptr || ppixSuite_.load() != nullptr)
    return;
  const void* suite = nullptr;
  const sdk::SPErr err =
      basicSuite_->AcquireSuite(sdk::kPrSDKPPixSuite, sdk::kPrSDKPPixSuiteVersion, &suite);
  ppixSuite_.store(err == sdk::kSPNoError ? static_cast<const sdk::PrSDKPPixSuite*>(suite)
                                          : nullptr);
  Log(channels::kTransmit, kLogInfo, "AcquireSuites: err=%d ppix=%p", err, suite);
}

void TransmitInstance::ReleaseSuites() {
  if (basicSuite_ == nullptr || ppixSuite_.load() == nullptr)
    return;
  basicSuite_->ReleaseSuite(sdk::kPrSDKPPixSuite, sdk::kPrSDKPPixSuiteVersion);
  ppixSuite_.store(nullptr);
  Log(channels::kTransmit, kLogInfo, "ReleaseSuites done");
}

void TransmitInstance::SetAudioFormat(float sampleRate, uint32_t channels) {
  audioSampleRate_.store(sampleRate > 0 ? static_cast<uint32_t>(sampleRate) : 48000u);
  audioChannels_.store(channels != 0 ? channels : 2u);
  Log(channels::kTransmit, kLogInfo, "SetAudioFormat rate=%u ch=%u", audioSampleRate_.load(),
      audioChannels_.load());
}

void TransmitInstance::SetVideoFrameRate(int64_t ticksPerFrame) {
  if (ticksPerFrame < 1 || basicSuite_ == nullptr) {
    Log(channels::kTransmit, kLogInfo,
        "SetVideoFrameRate: ticksPerFrame=%lld — keeping fallback %d fps",
        static_cast<long long>(ticksPerFrame), fps_.load());
    return;
  }
  const void* suite = nullptr;
  const sdk::SPErr err =
      basicSuite_->AcquireSuite(sdk::kPrSDKTimeSuite, sdk::kPrSDKTimeSuiteVersion, &suite);
  if (err != sdk::kSPNoError || suite == nullptr) {
    Log(channels::kTransmit, kLogError, "SetVideoFrameRate: AcquireSuite(Time) failed err=%d", err);
    return;
  }
  sdk::PrTime ticksPerSecond = 0;
  static_cast<const sdk::PrSDKTimeSuite*>(suite)->GetTicksPerSecond(&ticksPerSecond);
  basicSuite_->ReleaseSuite(sdk::kPrSDKTimeSuite, sdk::kPrSDKTimeSuiteVersion);
  if (ticksPerSecond <= 0) {
    Log(channels::kTransmit, kLogError, "SetVideoFrameRate: GetTicksPerSecond returned %lld",
        static_cast<long long>(ticksPerSecond));
    return;
  }
  const double rate = static_cast<double>(ticksPerSecond) / static_cast<double>(ticksPerFrame);
  double rounded = std::round(rate);  // halves away from zero
  if (rounded < 1)
    rounded = 1;
  if (rounded > 240)
    rounded = 240;
  fps_.store(static_cast<int32_t>(rounded));
  Log(channels::kTransmit, kLogInfo, "SetVideoFrameRate: %lld ticks/frame → %.3f → %d fps",
      static_cast<long long>(ticksPerFrame), rate, fps_.load());
}

void TransmitInstance::DisposeFrame(sdk::PPixHand frame) {
  const sdk::PrSDKPPixSuite* ppix = ppixSuite_.load();
  if (frame != nullptr && ppix != nullptr)
    ppix->Dispose(frame);
}

}  // namespace Sorvane
