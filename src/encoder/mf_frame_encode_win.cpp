#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "diag/log_channels.h"
#include "encoder/color_convert.h"
#include "encoder/frame_input.h"
#include "encoder/mf_async_driver_win.h"
#include "encoder/mf_codec_api_win.h"
#include "encoder/mf_encoder_win.h"
#include "encoder/mf_output_win.h"
#include "encoder/mf_status_text.h"

namespace Sorvane {
namespace {

constexpr uint32_t kCoarsestQp = 51;
// A transform that keeps answering with empty output must not hold the frame path forever.
constexpr int kMaxOutputsPerDrain = 64;

}  // namespace

void MediaFoundationEncoder::EncodeFrame(const uint8_t* bgra, int width, int height,
                                         int strideBytes) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!chosen_.transform)
    return;
  if (!AcceptFrameInput(bgra, width, height, strideBytes, shortRowsLogged_))
    return;
  const uint8_t* source = SourceAtCodedSize(bgra, width, height, &strideBytes);
  if (async_ != nullptr)
    PushAsyncLocked(source, strideBytes);
  else
    EncodeSyncLocked(source, strideBytes);
}

// A frame of the configured size is used in place (an odd last row or column is left out);
// any other size is scaled to the coded size.
const uint8_t* MediaFoundationEncoder::SourceAtCodedSize(const uint8_t* bgra, int width, int height,
                                                         int* strideBytes) {
  if (width == width_.load() && height == height_.load())
    return bgra;
  scaled_.resize(static_cast<size_t>(codedWidth_) * static_cast<size_t>(codedHeight_) * 4);
  ScaleNearest(bgra, *strideBytes, width, height, scaled_.data(), codedWidth_ * 4, codedWidth_,
               codedHeight_);
  *strideBytes = codedWidth_ * 4;
  return scaled_.data();
}

void MediaFoundationEncoder::ConvertToNv12(const uint8_t* src, int strideBytes, uint8_t* nv12) {
  uint8_t* luma = nv12;
  uint8_t* chroma = nv12 + lumaBytes_;
  if (!gpuDistrusted_ && gpu_->Convert(src, strideBytes, luma, chroma, codedWidth_, codedHeight_)) {
    if (gpuChecked_ || GpuMatchesCpu(src, strideBytes, nv12))
      gpuConversions_.fetch_add(1);
    return;
  }
  ConvertCpu(src, strideBytes, luma, chroma, codedWidth_, codedHeight_);
}

// Once per Configure the GPU's picture is compared with the CPU's: a driver that gets the shader
// wrong would shift every colour on the phone, unnoticed. On a mismatch the CPU's picture goes
// out, and the CPU converts for the rest of this encoder's life.
bool MediaFoundationEncoder::GpuMatchesCpu(const uint8_t* src, int strideBytes, uint8_t* nv12) {
  gpuChecked_ = true;
  std::vector<uint8_t> cpu(frameBytes_);
  ConvertCpu(src, strideBytes, cpu.data(), cpu.data() + lumaBytes_, codedWidth_, codedHeight_);
  const auto differs = std::mismatch(cpu.begin(), cpu.end(), nv12);
  if (differs.first == cpu.end())
    return true;
  const size_t offset = static_cast<size_t>(differs.first - cpu.begin());
  Log(channels::kEncoder, kLogError,
      "GPU NV12 self-check: byte %zu of %zu differs (GPU %u, CPU %u) — converting on the CPU "
      "for this encoder",
      offset, frameBytes_, static_cast<unsigned>(*differs.second),
      static_cast<unsigned>(*differs.first));
  gpuDistrusted_ = true;
  std::copy(cpu.begin(), cpu.end(), nv12);
  return false;
}

// Requested, every frame with a GOP of 1, or once gopFrames frames went without one.
bool MediaFoundationEncoder::DecideKeyframeLocked(IMFSample* sample) {
  const int gop = gopFrames_.load();
  const bool dueByGop = gop > 1 && framesSinceKey_ >= gop;
  const bool requested = keyframeRequested_.exchange(false);
  const bool keyframe = requested || gop <= 1 || dueByGop;
  sample->SetUINT32(MFSampleExtension_CleanPoint, keyframe ? 1 : 0);
  if (keyframe) {
    if (codecApi_)
      SetCodecProperty(codecApi_.Get(), CodecProperty::ForceKeyFrame, 1);
    framesSinceKey_ = 0;
  } else {
    ++framesSinceKey_;
  }
  return keyframe;
}

// NV12 into the buffer; false (the first failure logged) when the buffer cannot be written.
bool MediaFoundationEncoder::FillInput(IMFMediaBuffer* buffer, const uint8_t* src,
                                       int strideBytes) {
  BYTE* data = nullptr;
  const HRESULT locked = buffer->Lock(&data, nullptr, nullptr);
  if (FAILED(locked) || data == nullptr) {
    if (SUCCEEDED(locked))
      buffer->Unlock();
    const uint32_t failures = lockFailures_.fetch_add(1) + 1;
    if (failures == 1) {
      Log(channels::kEncoder, kLogError,
          "MF buffer Lock failed hr=%s — frame dropped (encoder-side, not network; counter "
          "now=%u)",
          StatusText(static_cast<uint32_t>(FAILED(locked) ? locked : E_POINTER)).c_str(), failures);
    }
    return false;
  }
  ConvertToNv12(src, strideBytes, data);
  buffer->SetCurrentLength(static_cast<DWORD>(frameBytes_));
  buffer->Unlock();
  return true;
}

// A new sample and buffer, which the transform may keep as long as it likes.
ComRef<IMFSample> MediaFoundationEncoder::NewInputSample(const uint8_t* src, int strideBytes) {
  ComRef<IMFMediaBuffer> buffer;
  ComRef<IMFSample> sample;
  if (FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(frameBytes_), buffer.Put())) ||
      !FillInput(buffer.Get(), src, strideBytes) || FAILED(MFCreateSample(sample.Put())) ||
      FAILED(sample->AddBuffer(buffer.Get())))
    return ComRef<IMFSample>();
  return sample;
}

ComRef<IMFSample> MediaFoundationEncoder::InputSampleFor(const uint8_t* src, int strideBytes) {
  if (!reuseInput_)
    return NewInputSample(src, strideBytes);
  if (!inputSample_ || !inputBuffer_ || !FillInput(inputBuffer_.Get(), src, strideBytes))
    return ComRef<IMFSample>();
  return ComRef<IMFSample>::Share(inputSample_.Get());
}

// The coarsest quantiser for this frame only: what the transform had is read first and given
// back once the frame is in. Null when it was not applied or there is nothing to give back.
std::optional<uint64_t> MediaFoundationEncoder::ApplyEmergencyQp() {
  if (!codecApi_)
    return std::nullopt;
  const std::optional<uint64_t> previous =
      CodecPropertyValueOf(codecApi_.Get(), CodecProperty::EncodeQP);
  const HRESULT hr =
      SetCodecProperty(codecApi_.Get(), CodecProperty::EncodeQP, PackedQp(kCoarsestQp));
  if (FAILED(hr)) {
    if (!qpRefusalLogged_) {
      qpRefusalLogged_ = true;
      Log(channels::kEncoder, kLogInfo,
          "emergency compression: the encoder takes no per-frame quantiser here (%s) — the "
          "frames keep its rate control",
          StatusText(static_cast<uint32_t>(hr)).c_str());
    }
    return std::nullopt;
  }
  return previous;
}

void MediaFoundationEncoder::EncodeSyncLocked(const uint8_t* src, int strideBytes) {
  const ComRef<IMFSample> sample = InputSampleFor(src, strideBytes);
  if (!sample)
    return;
  sample->SetSampleTime(sampleTime_);
  sample->SetSampleDuration(frameDuration_);
  std::optional<uint64_t> restoreQp;
  if (TakeEmergencyFrame())
    restoreQp = ApplyEmergencyQp();
  DecideKeyframeLocked(sample.Get());
  const uint64_t timestampUs = static_cast<uint64_t>(sampleTime_ / 10);
  IMFTransform* transform = chosen_.transform.Get();
  HRESULT hr = transform->ProcessInput(0, sample.Get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    DrainLocked(timestampUs);
    hr = transform->ProcessInput(0, sample.Get(), 0);
  }
  if (restoreQp)
    SetCodecProperty(codecApi_.Get(), CodecProperty::EncodeQP, *restoreQp);
  if (FAILED(hr)) {
    std::string note;
    if (inputFailures_.Due(&note)) {
      Log(channels::kEncoder, kLogError, "ProcessInput failed 0x%08lx%s",
          static_cast<unsigned long>(hr), note.c_str());
    }
    OnTransformFailure(hr, device_.device.Get(), false);
    return;
  }
  sampleTime_ += frameDuration_;
  DrainLocked(timestampUs);
}

void MediaFoundationEncoder::DrainLocked(uint64_t timestampUs) {
  const Codec codec = codec_.load();
  for (int round = 0; round < kMaxOutputsPerDrain; ++round) {
    HRESULT status = S_OK;
    const OutputStep step = ProcessOneOutput(chosen_.transform.Get(), codec, output_,
                                             static_cast<int64_t>(timestampUs), &status);
    if (step == OutputStep::NeedMoreInput)
      return;
    if (step == OutputStep::Failed) {
      std::string note;
      if (outputFailures_.Due(&note)) {
        Log(channels::kEncoder, kLogError, "ProcessOutput failed 0x%08lx%s",
            static_cast<unsigned long>(status), note.c_str());
      }
      OnTransformFailure(status, device_.device.Get(), false);
      return;
    }
  }
}

void MediaFoundationEncoder::PushAsyncLocked(const uint8_t* src, int strideBytes) {
  ComRef<IMFSample> sample = NewInputSample(src, strideBytes);
  if (!sample)
    return;
  sample->SetSampleTime(sampleTime_);
  sample->SetSampleDuration(frameDuration_);
  DecideKeyframeLocked(sample.Get());
  sampleTime_ += frameDuration_;
  async_->Push(std::move(sample));
}

}  // namespace Sorvane
