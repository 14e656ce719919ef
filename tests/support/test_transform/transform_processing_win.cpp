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

HRESULT TestEncoderTransform::EncodeSample(IMFSample* sample) {
  Nv12Image picture;
  HRESULT hr = ReadNv12(sample, types_.width, types_.height, &picture);
  if (hr == E_INVALIDARG)
    slot_->state.RecordShortInput();
  if (FAILED(hr))
    return hr;
  FrameRecord record;
  sample->GetSampleTime(&record.sampleTime);
  sample->GetSampleDuration(&record.duration);
  record.inputCleanPoint = MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
  const bool gopDue = gopSize_ > 0 && framesSinceIdr_ >= static_cast<int>(gopSize_);
  record.forced = forceKeyframe_;
  record.idr = keyframeDue_ || forceKeyframe_ || gopDue;
  record.qp = nextQp_;
  forceKeyframe_ = false;
  keyframeDue_ = false;
  nextQp_.reset();
  framesSinceIdr_ = record.idr ? 1 : framesSinceIdr_ + 1;

  EncodedFrame frame;
  frame.bytes = writer_->EncodePicture(Nv12View::Of(picture), record.idr);
  frame.time = record.sampleTime;
  frame.duration = record.duration;
  frame.idr = record.idr;
  record.outputBytes = frame.bytes.size();
  pending_.push_back(std::move(frame));
  slot_->state.RecordFrame(record, std::move(picture));
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::ProcessInput(DWORD id, IMFSample* sample, DWORD) {
  if (!sample)
    return E_POINTER;
  HRESULT hr = CheckStep(id, &TransformFailures::processInput);
  if (FAILED(hr))
    return hr;
  const TransformFailures failures = slot_->Options().failures;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!inputType_ || !outputType_ || !writer_)
      return MF_E_TRANSFORM_TYPE_NOT_SET;
    // Input nobody asked for is refused, as asynchronous hardware encoders do.
    if (async_ ? inputRequests_ < 1 : !pending_.empty())
      return MF_E_NOTACCEPTING;
    hr = EncodeSample(sample);
    if (FAILED(hr))
      return hr;
    if (async_)
      --inputRequests_;
  }
  if (async_) {
    if (failures.errorEvents)
      PostEvent(MEError);
    PostEvent(METransformHaveOutput);
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
    if (outputTypeStale_)
      return MF_E_TRANSFORM_TYPE_NOT_SET;
    if (pending_.empty())
      return MF_E_TRANSFORM_NEED_MORE_INPUT;
    if (options.failures.streamChangeOnFirstOutput && !streamChangeSent_) {
      streamChangeSent_ = true;
      outputTypeStale_ = true;
      buffers[0].dwStatus = MFT_OUTPUT_DATA_BUFFER_FORMAT_CHANGE;
      *status = MFT_PROCESS_OUTPUT_STATUS_NEW_STREAMS;
      return MF_E_TRANSFORM_STREAM_CHANGE;
    }
    const EncodedFrame& frame = pending_.front();
    hr = DeliverInto(&buffers[0], frame.bytes, frame.time, frame.duration, frame.idr);
    if (FAILED(hr))
      return hr;
    pending_.pop_front();
  }
  if (async_)
    RequestInput(1);
  return S_OK;
}

}  // namespace Sorvane::test
