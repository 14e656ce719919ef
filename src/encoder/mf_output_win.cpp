#include "encoder/mf_output_win.h"

#include <mfapi.h>
#include <mferror.h>

#include "encoder/com_ref_win.h"

namespace Sorvane {
namespace {

constexpr DWORD kDefaultOutputBytes = 1'048'576;

// Locks the buffer for the lifetime of the object.
class LockedBuffer {
 public:
  explicit LockedBuffer(IMFMediaBuffer* buffer) : buffer_(buffer) {
    if (buffer_ != nullptr && SUCCEEDED(buffer_->Lock(&data_, nullptr, &length_)) &&
        data_ == nullptr)
      buffer_->Unlock();
  }
  ~LockedBuffer() {
    if (data_ != nullptr)
      buffer_->Unlock();
  }
  LockedBuffer(const LockedBuffer&) = delete;
  LockedBuffer& operator=(const LockedBuffer&) = delete;
  const uint8_t* Data() const { return data_; }
  size_t Length() const { return data_ != nullptr ? length_ : 0; }

 private:
  IMFMediaBuffer* buffer_;
  BYTE* data_ = nullptr;
  DWORD length_ = 0;
};

void TakeFirstOfferedOutputType(IMFTransform* transform) {
  ComRef<IMFMediaType> type;
  if (SUCCEEDED(transform->GetOutputAvailableType(0, 0, type.Put())))
    transform->SetOutputType(0, type.Get(), 0);
}

}  // namespace

std::vector<uint8_t> ParameterSetsOfOutput(IMFTransform* transform, Codec codec) {
  ComRef<IMFMediaType> type;
  if (transform == nullptr || FAILED(transform->GetOutputCurrentType(0, type.Put())))
    return {};
  UINT32 size = 0;
  if (FAILED(type->GetBlobSize(MF_MT_MPEG_SEQUENCE_HEADER, &size)) || size == 0)
    return {};
  std::vector<uint8_t> blob(size);
  if (FAILED(type->GetBlob(MF_MT_MPEG_SEQUENCE_HEADER, blob.data(), size, &size)))
    return {};
  return ParameterSetsFromExtradata(codec, blob.data(), size);
}

void DeliverSample(IMFSample* sample, uint64_t timestampUs, EncodedOutput& output) {
  if (sample == nullptr)
    return;
  const bool cleanPoint = MFGetAttributeUINT32(sample, MFSampleExtension_CleanPoint, 0) != 0;
  ComRef<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put())))
    return;
  const LockedBuffer locked(buffer.Get());
  if (locked.Length() == 0)
    return;
  output.Deliver(locked.Data(), locked.Length(), cleanPoint, timestampUs);
}

OutputStep ProcessOneOutput(IMFTransform* transform, Codec codec, EncodedOutput& output,
                            int64_t timestampUs, HRESULT* status) {
  MFT_OUTPUT_STREAM_INFO info{};
  *status = transform->GetOutputStreamInfo(0, &info);
  if (FAILED(*status))
    return OutputStep::Failed;
  ComRef<IMFSample> supplied;
  if ((info.dwFlags & MFT_OUTPUT_STREAM_PROVIDES_SAMPLES) == 0) {
    ComRef<IMFMediaBuffer> buffer;
    *status = MFCreateSample(supplied.Put());
    if (SUCCEEDED(*status))
      *status =
          MFCreateMemoryBuffer(info.cbSize != 0 ? info.cbSize : kDefaultOutputBytes, buffer.Put());
    if (SUCCEEDED(*status))
      *status = supplied->AddBuffer(buffer.Get());
    if (FAILED(*status))
      return OutputStep::Failed;
  }
  MFT_OUTPUT_DATA_BUFFER data{};
  data.pSample = supplied.Get();
  DWORD flags = 0;
  *status = transform->ProcessOutput(0, 1, &data, &flags);
  if (data.pEvents != nullptr)
    data.pEvents->Release();
  // A sample the transform provided is ours to release; one we supplied is released by ComRef.
  ComRef<IMFSample> produced =
      data.pSample != supplied.Get() ? ComRef<IMFSample>::Adopt(data.pSample) : ComRef<IMFSample>();
  if (*status == MF_E_TRANSFORM_NEED_MORE_INPUT)
    return OutputStep::NeedMoreInput;
  if (*status == MF_E_TRANSFORM_STREAM_CHANGE) {
    TakeFirstOfferedOutputType(transform);
    output.SetParameterSets(ParameterSetsOfOutput(transform, codec));
    return OutputStep::StreamChanged;
  }
  if (FAILED(*status))
    return OutputStep::Failed;
  IMFSample* sample = produced ? produced.Get() : data.pSample;
  if (sample == nullptr)
    return OutputStep::Delivered;
  LONGLONG sampleTime = 0;
  if (timestampUs < 0 && FAILED(sample->GetSampleTime(&sampleTime)))
    sampleTime = 0;
  DeliverSample(sample,
                timestampUs >= 0 ? static_cast<uint64_t>(timestampUs)
                                 : static_cast<uint64_t>(sampleTime / 10),
                output);
  return OutputStep::Delivered;
}

}  // namespace Sorvane
