#include <dxgi.h>

#include <cstring>

#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

// Reads the NV12 picture the sample carries; E_INVALIDARG when the buffer is too short for it.
HRESULT ReadNv12(IMFSample* sample, int width, int height, Nv12Image* image) {
  ComRef<IMFMediaBuffer> buffer;
  HRESULT hr = sample->ConvertToContiguousBuffer(buffer.Put());
  if (FAILED(hr))
    return hr;
  BYTE* data = nullptr;
  DWORD length = 0;
  hr = buffer->Lock(&data, nullptr, &length);
  if (FAILED(hr))
    return hr;
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  const size_t needed = lumaBytes + lumaBytes / 2;
  if (!data || length < needed) {
    buffer->Unlock();
    return E_INVALIDARG;
  }
  *image = Nv12Image(width, height);
  std::memcpy(image->y.data(), data, lumaBytes);
  std::memcpy(image->uv.data(), data + lumaBytes, lumaBytes / 2);
  buffer->Unlock();
  return S_OK;
}

// E_INVALIDARG when the sample's buffer is too short for the picture, without reading it.
HRESULT CheckLength(IMFSample* sample, int width, int height) {
  DWORD length = 0;
  const HRESULT hr = sample->GetTotalLength(&length);
  if (FAILED(hr))
    return hr;
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  return length < lumaBytes + lumaBytes / 2 ? E_INVALIDARG : S_OK;
}

HRESULT CreateSampleWithBuffer(DWORD bytes, IMFSample** out) {
  ComRef<IMFSample> sample;
  ComRef<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreateSample(sample.Put());
  if (SUCCEEDED(hr))
    hr = MFCreateMemoryBuffer(bytes, buffer.Put());
  if (SUCCEEDED(hr))
    hr = sample->AddBuffer(buffer.Get());
  if (SUCCEEDED(hr)) {
    sample->AddRef();
    *out = sample.Get();
  }
  return hr;
}

HRESULT WriteInto(IMFSample* sample, const std::vector<uint8_t>& bytes) {
  ComRef<IMFMediaBuffer> buffer;
  HRESULT hr = sample->GetBufferByIndex(0, buffer.Put());
  if (FAILED(hr))
    return hr;
  BYTE* data = nullptr;
  DWORD maxLength = 0;
  hr = buffer->Lock(&data, &maxLength, nullptr);
  if (FAILED(hr))
    return hr;
  if (maxLength < bytes.size()) {
    buffer->Unlock();
    return MF_E_BUFFERTOOSMALL;
  }
  std::memcpy(data, bytes.data(), bytes.size());
  buffer->Unlock();
  return buffer->SetCurrentLength(static_cast<DWORD>(bytes.size()));
}

}  // namespace

size_t TestEncoderTransform::MaxOutputBytes() const {
  if (!writer_)
    return 0;
  const size_t macroblocks = static_cast<size_t>((types_.width + 15) / 16) *
                             static_cast<size_t>((types_.height + 15) / 16);
  // Raw samples plus the macroblock type, and emulation prevention at its worst (all zeros
  // gain one byte in three).
  const size_t slice = (macroblocks * 386 + 64) * 3 / 2;
  return slice + writer_->AnnexBParameterSets().size() + 16;
}

// What counts for a frame is decided when it comes in (keyframe, quantiser); its picture is read
// then, or later from the sample it keeps, as hardware encoders that reference their input do.
HRESULT TestEncoderTransform::TakeInput(IMFSample* sample, const TestTransformOptions& options) {
  HeldInput input;
  const bool keep = options.keepsInputSamples && !options.doesNotAddRef;
  const HRESULT hr = keep ? CheckLength(sample, types_.width, types_.height)
                          : ReadNv12(sample, types_.width, types_.height, &input.picture);
  if (hr == E_INVALIDARG)
    slot_->state.RecordShortInput();
  if (FAILED(hr))
    return hr;
  if (keep)
    input.sample.Assign(sample);
  FrameRecord& record = input.record;
  sample->GetSampleTime(&record.sampleTime);
  sample->GetSampleDuration(&record.duration);
  record.inputCleanPoint = MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
  const bool gopDue = gopSize_ > 0 && framesSinceIdr_ >= static_cast<int>(gopSize_);
  record.forced = forceKeyframe_;
  record.idr = keyframeDue_ || forceKeyframe_ || gopDue;
  record.qp = options.typedQp ? std::optional<uint32_t>(typedQp_ & 0xFFFF) : nextQp_;
  forceKeyframe_ = false;
  keyframeDue_ = false;
  nextQp_.reset();
  framesSinceIdr_ = record.idr ? 1 : framesSinceIdr_ + 1;
  held_.push_back(std::move(input));
  return S_OK;
}

bool TestEncoderTransform::InputDue(const TestTransformOptions& options) const {
  return static_cast<int>(held_.size()) > options.latencyFrames;
}

HRESULT TestEncoderTransform::EncodeOldest(std::vector<uint8_t>* bytes, FrameRecord* record) {
  HeldInput& oldest = held_.front();
  if (oldest.sample) {
    const HRESULT hr = ReadNv12(oldest.sample.Get(), types_.width, types_.height, &oldest.picture);
    if (FAILED(hr)) {
      held_.pop_front();
      return hr;
    }
  }
  *bytes = writer_->EncodePicture(Nv12View::Of(oldest.picture), oldest.record.idr);
  *record = oldest.record;
  record->outputBytes = bytes->size();
  slot_->state.RecordFrame(*record, std::move(oldest.picture));
  held_.pop_front();
  return S_OK;
}

// The instance that is handed the chosen frame loses its device, once per registration.
HRESULT TestEncoderTransform::LoseDeviceIfDue(const TestTransformOptions& options) {
  if (lost_)
    return DXGI_ERROR_DEVICE_REMOVED;
  const int frame = ++slot_->inputsTaken;
  if (options.loseDeviceAtFrame < 1 || frame < options.loseDeviceAtFrame ||
      slot_->deviceLost.exchange(true))
    return S_OK;
  lost_ = true;
  held_.clear();
  return DXGI_ERROR_DEVICE_REMOVED;
}

STDMETHODIMP TestEncoderTransform::ProcessInput(DWORD id, IMFSample* sample, DWORD) {
  if (!sample)
    return E_POINTER;
  HRESULT hr = CheckStep(id, &TransformFailures::processInput);
  if (FAILED(hr))
    return hr;
  const TestTransformOptions options = slot_->Options();
  bool due = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_)
      return DXGI_ERROR_DEVICE_REMOVED;
    if (!inputType_ || !outputType_ || !writer_)
      return MF_E_TRANSFORM_TYPE_NOT_SET;
    // Input nobody asked for is refused, as asynchronous hardware encoders do; a synchronous one
    // takes none while an output waits to be collected.
    if (async_ ? inputRequests_ < 1 : InputDue(options))
      return MF_E_NOTACCEPTING;
    hr = LoseDeviceIfDue(options);
    if (SUCCEEDED(hr))
      hr = TakeInput(sample, options);
    if (FAILED(hr)) {
      if (hr == DXGI_ERROR_DEVICE_REMOVED && async_)
        PostEvent(MEError, hr);
      return hr;
    }
    if (async_)
      --inputRequests_;
    due = InputDue(options);
  }
  if (async_) {
    if (options.failures.errorEvents)
      PostEvent(MEError, options.failures.errorEventStatus);
    if (due)
      PostEvent(METransformHaveOutput);
    else
      RequestInput(1);  // still filling its pipeline
  }
  return S_OK;
}

HRESULT TestEncoderTransform::DeliverInto(MFT_OUTPUT_DATA_BUFFER* out,
                                          const std::vector<uint8_t>& bytes, int64_t time,
                                          int64_t duration, bool idr) {
  HRESULT hr = S_OK;
  if (slot_->Options().providesSamples) {
    if (out->pSample)
      return E_INVALIDARG;
    ComRef<IMFSample> sample;
    hr = CreateSampleWithBuffer(static_cast<DWORD>(bytes.size()), sample.Put());
    if (SUCCEEDED(hr))
      hr = WriteInto(sample.Get(), bytes);
    if (FAILED(hr))
      return hr;
    sample->AddRef();
    out->pSample = sample.Get();
  } else {
    if (!out->pSample)
      return E_INVALIDARG;
    hr = WriteInto(out->pSample, bytes);
    if (FAILED(hr))
      return hr;
  }
  out->pSample->SetSampleTime(time);
  out->pSample->SetSampleDuration(duration);
  out->pSample->SetUINT32(MFSampleExtension_CleanPoint, idr ? 1 : 0);
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::ProcessOutput(DWORD, DWORD count,
                                                 MFT_OUTPUT_DATA_BUFFER* buffers, DWORD* status) {
  if (!buffers || !status)
    return E_POINTER;
  if (count != 1)
    return E_INVALIDARG;
  *status = 0;
  buffers[0].dwStatus = 0;
  buffers[0].pEvents = nullptr;
  HRESULT hr = CheckUsable();
  if (FAILED(hr))
    return hr;
  const TestTransformOptions options = slot_->Options();
  if (options.processOutputDelayMs > 0)
    Sleep(static_cast<DWORD>(options.processOutputDelayMs));
  if (FAILED(options.failures.processOutput))
    return options.failures.processOutput;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lost_)
      return DXGI_ERROR_DEVICE_REMOVED;
    if (outputTypeStale_)
      return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (!InputDue(options))
      return MF_E_TRANSFORM_NEED_MORE_INPUT;
    if (options.failures.streamChangeOnFirstOutput && !streamChangeSent_) {
      streamChangeSent_ = true;
      outputTypeStale_ = true;
      buffers[0].dwStatus = MFT_OUTPUT_DATA_BUFFER_FORMAT_CHANGE;
      *status = MFT_PROCESS_OUTPUT_STATUS_NEW_STREAMS;
      return MF_E_TRANSFORM_STREAM_CHANGE;
    }
    std::vector<uint8_t> bytes;
    FrameRecord record;
    hr = EncodeOldest(&bytes, &record);
    if (SUCCEEDED(hr))
      hr = DeliverInto(&buffers[0], bytes, record.sampleTime, record.duration, record.idr);
    if (FAILED(hr))
      return hr;
  }
  if (async_)
    RequestInput(1);
  return S_OK;
}

}  // namespace Sorvane::test
