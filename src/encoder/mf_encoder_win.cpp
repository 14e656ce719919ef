#include "encoder/mf_encoder_win.h"

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>

#include <cstdio>

#include "diag/log_channels.h"
#include "encoder/encoder_description.h"
#include "encoder/encoder_thread.h"
#include "encoder/mf_async_driver_win.h"
#include "encoder/mf_codec_api_win.h"
#include "encoder/mf_output_win.h"
#include "store/install_identity.h"

namespace Sorvane {
namespace {

// ICodecAPI's interface id; not every SDK's headers bind it to the type.
constexpr GUID kCodecApiId = {
    0x901db4c7, 0x31ce, 0x41a2, {0x85, 0xdc, 0x8f, 0xa0, 0xbf, 0x41, 0xb8, 0xda}};

// The software HEVC transform cannot keep real time above this many pixels.
constexpr int64_t kSoftwareHevcPixelCap = 6'000'000;

const char* KindLabel(const CandidateTransform& candidate) {
  if (candidate.async)
    return "HW-async";
  return candidate.hwGpu ? "HW" : "SW";
}

}  // namespace

MediaFoundationEncoder::MediaFoundationEncoder() : startup_(MfStartupScope::Kind::Lite) {}

MediaFoundationEncoder::~MediaFoundationEncoder() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
}

uint64_t MediaFoundationEncoder::GpuConversions() const {
  return gpuConversions_.load();
}

// The event loop ends before the transform is told anything; an asynchronous transform is shut
// down before its last reference goes.
void MediaFoundationEncoder::ReleaseTransformLocked() {
  if (async_ != nullptr) {
    async_->Stop();
    async_.reset();
  }
  asyncActive_.store(false);
  if (chosen_.transform) {
    chosen_.transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
    chosen_.transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
  }
  codecApi_.Reset();
  ReleaseTransform(chosen_);
  chosen_ = CandidateTransform();
}

void MediaFoundationEncoder::TearDownLocked() {
  if (chosen_.transform)
    SetDescriptions(std::string());
  ReleaseTransformLocked();
  inputBuffer_.Reset();
  inputSample_.Reset();
  gpu_.Release();
  device_.Release();
  output_.SetParameterSets({});
  configured_.store(false);
  width_.store(0);
  height_.store(0);
  fps_.store(30);
  codedWidth_ = codedHeight_ = 0;
  lumaBytes_ = frameBytes_ = 0;
  sampleTime_ = 0;
  frameDuration_ = 0;
}

// Size cap, codec properties, parameter sets and the asynchronous start for a transform that
// passed the acceptance test. A transform whose event loop cannot start gives way to the next.
CandidateVerdict MediaFoundationEncoder::FinishCandidate(CandidateTransform& candidate) {
  const int width = width_.load(), height = height_.load();
  const bool hardware = candidate.hwGpu || candidate.async;
  if (!hardware && codec_.load() == Codec::HEVC &&
      static_cast<int64_t>(width) * height > kSoftwareHevcPixelCap) {
    Log(channels::kEncoder, kLogError,
        "Refusing %dx%d on SW HEVC MFT \"%s\" — above %.1f MPx cap (HW HEVC unavailable: async "
        "MFTs not yet supported)",
        width, height, candidate.name.c_str(), kSoftwareHevcPixelCap / 1e6);
    return CandidateVerdict::Stop;
  }
  Log(channels::kEncoder, kLogInfo, "  -> using %s \"%s\" (hw-gpu=%d async=%d)", candidate.category,
      candidate.name.c_str(), candidate.hwGpu ? 1 : 0, candidate.async ? 1 : 0);
  ComRef<ICodecAPI> api;
  candidate.transform->QueryInterface(kCodecApiId, api.PutVoid());
  if (api) {
    RateSettings rates;
    rates.mode = rateControl_.load();
    rates.bitrate = bitrate_.load();
    rates.peakBitrate = peakBitrate_.load();
    rates.quality = quality_;
    rates.gopFrames = gopFrames_.load();
    SetCodecProperties(api.Get(), InitialCodecProperties(rates));
  }
  output_.SetCodec(codec_.load());
  output_.SetParameterSets(ParameterSetsOfOutput(candidate.transform.Get(), codec_.load()));
  if (candidate.async) {
    auto driver =
        std::make_unique<AsyncTransformDriver>(candidate.transform.Get(), codec_.load(), output_);
    if (!driver->Start()) {
      Log(channels::kEncoder, kLogError, "Async MFT setup failed — releasing and falling back");
      output_.SetParameterSets({});
      return CandidateVerdict::Next;
    }
    async_ = std::move(driver);
    asyncActive_.store(true);
  }
  codecApi_ = std::move(api);
  return CandidateVerdict::Take;
}

bool MediaFoundationEncoder::StartSyncStreaming() {
  IMFTransform* transform = chosen_.transform.Get();
  transform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  const HRESULT hr = MFCreateMemoryBuffer(static_cast<DWORD>(frameBytes_), inputBuffer_.Put());
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogError, "MFCreateMemoryBuffer failed 0x%08lx",
        static_cast<unsigned long>(hr));
    return false;
  }
  if (FAILED(MFCreateSample(inputSample_.Put())))
    return false;
  inputSample_->AddBuffer(inputBuffer_.Get());
  return true;
}

bool MediaFoundationEncoder::ConfigureLocked(int width, int height, uint32_t bitrateBps, int fps) {
  TearDownLocked();
  if (width < 16 || height < 16 || fps < 1) {
    Log(channels::kEncoder, kLogError, "Configure: invalid %dx%d@%d", width, height, fps);
    return false;
  }
  if (bitrateBps == 0)
    bitrateBps = kDefaultBitrateBps;
  const EncoderThreadScope com;
  width_.store(width);
  height_.store(height);
  fps_.store(fps);
  bitrate_.store(bitrateBps);
  output_.ResetKeyframeProduced();
  keyframeRequested_.store(true);
  // NV12 needs whole chroma rows and columns: an odd last row or column is left out.
  codedWidth_ = width & ~1;
  codedHeight_ = height & ~1;
  lumaBytes_ = static_cast<size_t>(codedWidth_) * static_cast<size_t>(codedHeight_);
  frameBytes_ = lumaBytes_ + lumaBytes_ / 2;
  frameDuration_ = 10'000'000 / fps;
  device_ = CreateEncoderDevice();

  TransformRequest request;
  request.codec = codec_.load();
  request.width = codedWidth_;
  request.height = codedHeight_;
  request.fps = fps;
  request.bitrate = bitrateBps;
  request.allowAsync = installid::EnableAsyncHwEncoders();
  const bool taken = WalkTransforms(
      request, device_,
      [this](CandidateTransform& candidate) { return FinishCandidate(candidate); }, &chosen_);
  if (!taken) {
    Log(channels::kEncoder, kLogError,
        "No encoder MFT accepted our media types (codec=%s %dx%d@%d %u bps)",
        CodecLabel(request.codec), width, height, fps, bitrateBps);
    SetDescriptions(std::string());
    TearDownLocked();
    return false;
  }
  gpu_.Attach(&device_);
  char text[256];
  std::snprintf(text, sizeof text, "%s [%s, %dx%d %s @ %d fps, %u Mbps]", chosen_.name.c_str(),
                KindLabel(chosen_), width, height, request.codec == Codec::H264 ? "H.264" : "HEVC",
                fps, bitrateBps / 1'000'000);
  SetDescriptions(text);
  keyframeRequested_.store(true);
  sampleTime_ = 0;
  framesSinceKey_ = 0;
  if (chosen_.async) {
    configured_.store(true);
    Log(channels::kEncoder, kLogInfo,
        "Configure OK (async): %dx%d @ %d fps, %u bps, codec=%s, gop=%d, ps=%zuB", width, height,
        fps, bitrateBps, CodecLabel(request.codec), gopFrames_.load(),
        output_.ParameterSets().size());
    return true;
  }
  if (!StartSyncStreaming()) {
    TearDownLocked();
    return false;
  }
  configured_.store(true);
  Log(channels::kEncoder, kLogInfo,
      "Configure OK: %dx%d @ %d fps, %u bps, codec=%s, gop=%d, ps=%zuB", width, height, fps,
      bitrateBps, CodecLabel(request.codec), gopFrames_.load(), output_.ParameterSets().size());
  return true;
}

}  // namespace Sorvane
