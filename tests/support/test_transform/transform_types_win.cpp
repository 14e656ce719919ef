#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

constexpr UINT32 kMaxDimension = 8192;

HRESULT CopyType(IMFMediaType* from, IMFMediaType** out) {
  *out = nullptr;
  ComRef<IMFMediaType> copy;
  HRESULT hr = MFCreateMediaType(copy.Put());
  if (SUCCEEDED(hr))
    hr = from->CopyAllItems(copy.Get());
  if (SUCCEEDED(hr)) {
    copy->AddRef();
    *out = copy.Get();
  }
  return hr;
}

HRESULT ReturnCopy(const ComRef<IMFMediaType>& current, IMFMediaType** out) {
  if (!out)
    return E_POINTER;
  *out = nullptr;
  if (!current)
    return MF_E_TRANSFORM_TYPE_NOT_SET;
  return CopyType(current.Get(), out);
}

bool IsVideoOf(IMFMediaType* type, const GUID& subtype) {
  GUID major{}, sub{};
  return SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major == MFMediaType_Video &&
         SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &sub)) && sub == subtype;
}

}  // namespace

HRESULT TestEncoderTransform::ValidateOutputType(IMFMediaType* type, NegotiatedTypes* out) const {
  if (!IsVideoOf(type, MFVideoFormat_H264))
    return MF_E_INVALIDMEDIATYPE;
  UINT32 width = 0, height = 0;
  if (FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)))
    return MF_E_INVALIDMEDIATYPE;
  // Like hardware encoders: whole 4:2:0 chroma samples only.
  if (width < 16 || height < 16 || width > kMaxDimension || height > kMaxDimension ||
      width % 2 != 0 || height % 2 != 0)
    return MF_E_INVALIDMEDIATYPE;
  UINT32 num = 0, den = 0;
  if (FAILED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &num, &den)) || num == 0 || den == 0)
    return MF_E_INVALIDMEDIATYPE;
  out->outputSubtype = MFVideoFormat_H264;
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->fpsNumerator = num;
  out->fpsDenominator = den;
  out->avgBitrate = MFGetAttributeUINT32(type, MF_MT_AVG_BITRATE, 0);
  out->profile = MFGetAttributeUINT32(type, MF_MT_MPEG2_PROFILE, 0);
  out->inputSet = false;
  return S_OK;
}

HRESULT TestEncoderTransform::BuildInputType(const GUID& subtype, IMFMediaType** out) const {
  ComRef<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(type.Put());
  if (FAILED(hr))
    return hr;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, subtype);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, types_.width, types_.height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, types_.fpsNumerator, types_.fpsDenominator);
  MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->AddRef();
  *out = type.Get();
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetInputAvailableType(DWORD id, DWORD index,
                                                         IMFMediaType** type) {
  if (!type)
    return E_POINTER;
  *type = nullptr;
  const HRESULT hr = CheckStep(id, &TransformFailures::getInputAvailableType);
  if (FAILED(hr))
    return hr;
  const TestTransformOptions options = slot_->Options();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!outputType_)
    return MF_E_TRANSFORM_TYPE_NOT_SET;
  std::vector<GUID> offered;
  if (options.offerOtherInputTypeFirst)
    offered.push_back(MFVideoFormat_I420);
  offered.push_back(MFVideoFormat_NV12);
  if (index >= offered.size())
    return MF_E_NO_MORE_TYPES;
  return BuildInputType(offered[index], type);
}

STDMETHODIMP TestEncoderTransform::GetOutputAvailableType(DWORD id, DWORD index,
                                                          IMFMediaType** type) {
  if (!type)
    return E_POINTER;
  *type = nullptr;
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  HRESULT hr = CheckUsable();
  if (FAILED(hr))
    return hr;
  if (index > 0)
    return MF_E_NO_MORE_TYPES;
  std::lock_guard<std::mutex> lock(mutex_);
  if (outputType_)
    return CopyType(outputType_.Get(), type);
  ComRef<IMFMediaType> basic;
  hr = MFCreateMediaType(basic.Put());
  if (FAILED(hr))
    return hr;
  basic->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  basic->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
  basic->AddRef();
  *type = basic.Get();
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::SetOutputType(DWORD id, IMFMediaType* type, DWORD flags) {
  HRESULT hr = CheckStep(id, &TransformFailures::setOutputType);
  if (FAILED(hr))
    return hr;
  std::lock_guard<std::mutex> lock(mutex_);
  // A hardware session is what the output type asks for: none is left while another streams.
  if (type && !streaming_ && slot_->Options().sessionLimit && slot_->streaming.load() > 0)
    return MF_E_HW_MFT_FAILED_START_STREAMING;
  if (!type) {
    outputType_.Reset();
    inputType_.Reset();
    types_ = {};
    writer_.reset();
    return S_OK;
  }
  NegotiatedTypes negotiated;
  hr = ValidateOutputType(type, &negotiated);
  if (FAILED(hr) || (flags & MFT_SET_TYPE_TEST_ONLY))
    return hr;
  ComRef<IMFMediaType> current;
  hr = CopyType(type, current.Put());
  if (FAILED(hr))
    return hr;
  auto writer = std::make_unique<IpcmH264Writer>(negotiated.width, negotiated.height);
  // What this encoder really writes: baseline, and its parameter sets as an avcC record.
  current->SetUINT32(MF_MT_MPEG2_PROFILE, 66);  // eAVEncH264VProfile_Base
  const std::vector<uint8_t> record = writer->DecoderConfigurationRecord();
  current->SetBlob(MF_MT_MPEG_SEQUENCE_HEADER, record.data(), static_cast<UINT32>(record.size()));
  const bool sameSize = negotiated.width == types_.width && negotiated.height == types_.height;
  if (!sameSize)
    inputType_.Reset();
  negotiated.inputSet = sameSize && types_.inputSet;
  outputType_.Assign(current.Get());
  types_ = negotiated;
  writer_ = std::move(writer);
  keyframeDue_ = true;
  outputTypeStale_ = false;
  slot_->state.RecordTypes(types_);
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::SetInputType(DWORD id, IMFMediaType* type, DWORD flags) {
  HRESULT hr = CheckStep(id, &TransformFailures::setInputType);
  if (FAILED(hr))
    return hr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!type) {
    inputType_.Reset();
    types_.inputSet = false;
    return S_OK;
  }
  if (!outputType_)
    return MF_E_TRANSFORM_TYPE_NOT_SET;
  UINT32 width = 0, height = 0;
  if (!IsVideoOf(type, MFVideoFormat_NV12) ||
      FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)) ||
      static_cast<int>(width) != types_.width || static_cast<int>(height) != types_.height)
    return MF_E_INVALIDMEDIATYPE;
  if (flags & MFT_SET_TYPE_TEST_ONLY)
    return S_OK;
  ComRef<IMFMediaType> current;
  hr = CopyType(type, current.Put());
  if (FAILED(hr))
    return hr;
  inputType_.Assign(current.Get());
  types_.inputSet = true;
  slot_->state.RecordTypes(types_);
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetInputCurrentType(DWORD id, IMFMediaType** type) {
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  std::lock_guard<std::mutex> lock(mutex_);
  return ReturnCopy(inputType_, type);
}

STDMETHODIMP TestEncoderTransform::GetOutputCurrentType(DWORD id, IMFMediaType** type) {
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  std::lock_guard<std::mutex> lock(mutex_);
  return ReturnCopy(outputType_, type);
}

STDMETHODIMP TestEncoderTransform::GetInputStatus(DWORD id, DWORD* flags) {
  if (!flags)
    return E_POINTER;
  if (id != 0)
    return MF_E_INVALIDSTREAMNUMBER;
  HRESULT hr = CheckUsable();
  if (FAILED(hr))
    return hr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inputType_)
    return MF_E_TRANSFORM_TYPE_NOT_SET;
  const TestTransformOptions options = slot_->Options();
  const bool accepts = async_ ? inputRequests_ > 0 : !InputDue(options);
  *flags = accepts ? MFT_INPUT_STATUS_ACCEPT_DATA : 0;
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::GetOutputStatus(DWORD* flags) {
  if (!flags)
    return E_POINTER;
  HRESULT hr = CheckUsable();
  if (FAILED(hr))
    return hr;
  const TestTransformOptions options = slot_->Options();
  std::lock_guard<std::mutex> lock(mutex_);
  *flags = InputDue(options) ? MFT_OUTPUT_STATUS_SAMPLE_READY : 0;
  return S_OK;
}

}  // namespace Sorvane::test
