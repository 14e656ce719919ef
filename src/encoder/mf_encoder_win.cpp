#include "encoder/mf_encoder_win.h"

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>

#include <cstdio>
#include <cstring>

#include "diag/log_channels.h"
#include "encoder/d3d11_nv12_converter_win.h"
#include "encoder/encoder_description.h"
#include "encoder/encoder_thread.h"
#include "encoder/mf_async_driver_win.h"
#include "encoder/mf_codec_api_win.h"
#include "encoder/mf_output_win.h"
#include "encoder/mf_status_text.h"
#include "store/install_identity.h"

namespace Sorvane {
namespace {

// The software HEVC transform cannot keep real time above this many pixels.
constexpr int64_t kSoftwareHevcPixelCap = 6'000'000;

const char* KindLabel(const CandidateTransform& candidate) {
  if (candidate.async)
    return "HW-async";
  return candidate.hwGpu ? "HW" : "SW";
}

}  // namespace

MediaFoundationEncoder::MediaFoundationEncoder(std::unique_ptr<GpuNv12Converter> gpu)
    : startup_(MfStartupScope::Kind::Lite),
      gpu_(gpu ? std::move(gpu) : std::make_unique<D3d11Nv12Converter>()) {}

MediaFoundationEncoder::~MediaFoundationEncoder() {
  std::lock_guard<std::mutex> lock(lock_);
  TearDownLocked();
}

uint64_t MediaFoundationEncoder::GpuConversions() const {
  return gpuConversions_.load();
}

void MediaFoundationEncoder::OnTransformFailure(HRESULT status, ID3D11Device* device,
                                                bool loopStopped) {
  if (!loopStopped && !IsDeviceLoss(status, device))
    return;
  if (!MarkNeedsReopen())
    return;  // said once
  if (loopStopped) {
    Log(channels::kEncoder, kLogError,
        "encoder: the transform's event loop stopped — asking for a reopen");
  } else {
    Log(channels::kEncoder, kLogError, "encoder: the device was lost (%s) — asking for a reopen",
        StatusText(static_cast<uint32_t>(status)).c_str());
  }
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
  ForgetLoss();  // the event loop is gone: nothing of this session reports any more
  inputBuffer_.Reset();
  inputSample_.Reset();
  gpu_->Release();
  device_.Release();
  output_.SetParameterSets({});
  configured_.store(false);
  kind_.store(EncoderKind::Unknown);
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
  ComRef<ICodecAPI> api = CodecApiOf(candidate.transform.Get());
  if (api)  // again after the types: what may change in a session takes effect now
    SetCodecProperties(api.Get(), InitialCodecProperties(CurrentRates()), rejections_);
  output_.SetCodec(codec_.load());
  output_.SetParameterSets(ParameterSetsOfOutput(candidate.transform.Get(), codec_.load()));
  if (candidate.async) {
    auto device =
        std::make_shared<ComRef<ID3D11Device>>(ComRef<ID3D11Device>::Share(device_.device.Get()));
    auto driver = std::make_unique<AsyncTransformDriver>(
        candidate.transform.Get(), codec_.load(), output_,
        [this, device](HRESULT status, bool loopStopped) {
          OnTransformFailure(status, device->Get(), loopStopped);
        });
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

RateSettings MediaFoundationEncoder::CurrentRates() const {
  const EncoderSettings settings = SettingsLocked();
  return {settings.rateControl, settings.bitrateBps, settings.peakBitrateBps, settings.quality,
          settings.gopFrames};
}

// A transform keeps a reference to its input unless it says it copies it; refilling a sample it
// still holds would change a picture it has not encoded yet.
bool MediaFoundationEncoder::StartSyncStreaming() {
  IMFTransform* transform = chosen_.transform.Get();
  transform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  MFT_INPUT_STREAM_INFO info{};
  reuseInput_ = SUCCEEDED(transform->GetInputStreamInfo(0, &info)) &&
                (info.dwFlags & MFT_INPUT_STREAM_DOES_NOT_ADDREF) != 0;
  if (!reuseInput_)
    return true;
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
  rejections_ = PropertyRejections();
  qpRefusalLogged_ = false;
  gpuChecked_ = false;
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
  request.rates = CurrentRates();
  request.rejections = &rejections_;
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
  gpu_->Attach(&device_);
  const bool hardware =
      chosen_.hwGpu || chosen_.async || std::strncmp(chosen_.category, "HW", 2) == 0;
  kind_.store(hardware ? EncoderKind::Hardware : EncoderKind::Software);
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
