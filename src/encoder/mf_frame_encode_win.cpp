#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <strmif.h>

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
  if (gpu_.Convert(src, strideBytes, luma, chroma, codedWidth_, codedHeight_)) {
    gpuConversions_.fetch_add(1);
    return;
  }
  ConvertCpu(src, strideBytes, luma, chroma, codedWidth_, codedHeight_);
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

void MediaFoundationEncoder::EncodeSyncLocked(const uint8_t* src, int strideBytes) {
  if (!inputSample_ || !inputBuffer_)
    return;
  BYTE* data = nullptr;
  const HRESULT locked = inputBuffer_->Lock(&data, nullptr, nullptr);
  if (FAILED(locked) || data == nullptr) {
    if (SUCCEEDED(locked))
      inputBuffer_->Unlock();
    const uint32_t failures = lockFailures_.fetch_add(1) + 1;
    if (failures == 1) {
      Log(channels::kEncoder, kLogError,
          "MF buffer Lock failed hr=%s — frame dropped (encoder-side, not network; counter "
          "now=%u)",
          StatusText(static_cast<uint32_t>(FAILED(locked) ? locked : E_POINTER)).c_str(), failures);
    }
    return;
  }
  ConvertToNv12(src, strideBytes, data);
  inputBuffer_->SetCurrentLength(static_cast<DWORD>(frameBytes_));
  inputBuffer_->Unlock();
  inputSample_->SetSampleTime(sampleTime_);
  inputSample_->SetSampleDuration(frameDuration_);
  if (TakeEmergencyFrame()) {
    if (codecApi_)
      SetCodecProperty(codecApi_.Get(), CodecProperty::EncodeQP, kCoarsestQp);
  }
  DecideKeyframeLocked(inputSample_.Get());
  const uint64_t timestampUs = static_cast<uint64_t>(sampleTime_ / 10);
  IMFTransform* transform = chosen_.transform.Get();
  HRESULT hr = transform->ProcessInput(0, inputSample_.Get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    DrainLocked(timestampUs);
    hr = transform->ProcessInput(0, inputSample_.Get(), 0);
  }
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogError, "ProcessInput failed 0x%08lx",
        static_cast<unsigned long>(hr));
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
      Log(channels::kEncoder, kLogError, "ProcessOutput failed 0x%08lx",
          static_cast<unsigned long>(status));
      return;
    }
  }
}

// A new sample and buffer per frame: the transform may hold on to them until its events ask.
void MediaFoundationEncoder::PushAsyncLocked(const uint8_t* src, int strideBytes) {
  ComRef<IMFMediaBuffer> buffer;
  ComRef<IMFSample> sample;
  if (FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(frameBytes_), buffer.Put())))
    return;
  BYTE* data = nullptr;
  if (FAILED(buffer->Lock(&data, nullptr, nullptr)))
    return;
  if (data == nullptr) {
    buffer->Unlock();
    return;
  }
  ConvertToNv12(src, strideBytes, data);
  buffer->SetCurrentLength(static_cast<DWORD>(frameBytes_));
  buffer->Unlock();
  if (FAILED(MFCreateSample(sample.Put())) || FAILED(sample->AddBuffer(buffer.Get())))
    return;
  sample->SetSampleTime(sampleTime_);
  sample->SetSampleDuration(frameDuration_);
  DecideKeyframeLocked(sample.Get());
  sampleTime_ += frameDuration_;
  async_->Push(std::move(sample));
}

}  // namespace Sorvane
