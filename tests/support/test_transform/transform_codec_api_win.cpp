#include "support/test_transform/transform_object.h"

namespace Sorvane::test {
namespace {

PropertyChange Decode(const GUID& api, const VARIANT& value) {
  PropertyChange change;
  change.property = api;
  change.type = value.vt;
  switch (value.vt) {
    case VT_UI4:
      change.value = value.ulVal;
      break;
    case VT_UI8:
      change.value = value.ullVal;
      break;
    case VT_I4:
      change.value = static_cast<uint64_t>(static_cast<int64_t>(value.lVal));
      break;
    case VT_BOOL:
      change.value = value.boolVal == VARIANT_FALSE ? 0 : 1;
      break;
    default:
      break;
  }
  return change;
}

constexpr GUID kLowLatency = {STATIC_CODECAPI_AVLowLatencyMode};
constexpr GUID kRateControlMode = {STATIC_CODECAPI_AVEncCommonRateControlMode};
constexpr GUID kBPictureCount = {STATIC_CODECAPI_AVEncMPVDefaultBPictureCount};
constexpr UINT32 kQualityMode = 3;  // eAVEncCommonRateControlMode_Quality

// What vendor encoders read only when the media types are set.
bool IsStatic(const GUID& api) {
  return api == kLowLatency || api == kRateControlMode || api == kCodecApiGopSize ||
         api == kBPictureCount;
}

}  // namespace

STDMETHODIMP TestEncoderTransform::IsSupported(const GUID* api) {
  return api ? S_OK : E_POINTER;
}

STDMETHODIMP TestEncoderTransform::IsModifiable(const GUID* api) {
  return api ? S_OK : E_POINTER;
}

STDMETHODIMP TestEncoderTransform::GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetParameterValues(const GUID*, VARIANT**, ULONG*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetDefaultValue(const GUID*, VARIANT*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetValue(const GUID* api, VARIANT* value) {
  if (!api || !value)
    return E_POINTER;
  const bool typedQp = slot_->Options().typedQp;
  std::lock_guard<std::mutex> lock(mutex_);
  if (typedQp && *api == kCodecApiEncodeQp) {
    VariantInit(value);
    value->vt = VT_UI8;
    value->ullVal = typedQp_;
    return S_OK;
  }
  const auto it = values_.find(*api);
  if (it == values_.end())
    return E_NOTIMPL;
  VariantInit(value);
  value->vt = it->second.type;
  switch (it->second.type) {
    case VT_UI8:
      value->ullVal = it->second.value;
      break;
    case VT_BOOL:
      value->boolVal = it->second.value ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    default:
      value->ulVal = static_cast<ULONG>(it->second.value);
      break;
  }
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::SetValue(const GUID* api, VARIANT* value) {
  if (!api || !value)
    return E_POINTER;
  const PropertyChange change = Decode(*api, *value);
  const HRESULT refused = slot_->Options().failures.codecApiSetValue;
  const HRESULT hr = FAILED(refused) ? refused : TakeProperty(change);
  slot_->state.RecordProperty(change, SUCCEEDED(hr));
  return hr;
}

// Under the realistic rules a static property is fixed once the output type is set, and the
// quantiser is a typed value that only the quality mode takes.
HRESULT TestEncoderTransform::TakeProperty(const PropertyChange& change) {
  const TestTransformOptions options = slot_->Options();
  std::lock_guard<std::mutex> lock(mutex_);
  if (shutdown_)
    return MF_E_SHUTDOWN;
  if (options.staticProperties && IsStatic(change.property) && outputType_)
    return MF_E_INVALIDREQUEST;
  if (options.typedQp && change.property == kCodecApiEncodeQp) {
    const auto mode = values_.find(kRateControlMode);
    if (change.type != VT_UI8)
      return E_INVALIDARG;
    if (mode == values_.end() || mode->second.value != kQualityMode)
      return MF_E_INVALIDREQUEST;
    typedQp_ = change.value;
    return S_OK;
  }
  values_[change.property] = change;
  if (change.property == kCodecApiGopSize)
    gopSize_ = static_cast<uint32_t>(change.value);
  else if (change.property == kCodecApiForceKeyFrame && change.value != 0)
    forceKeyframe_ = true;
  else if (change.property == kCodecApiEncodeQp)
    nextQp_ = static_cast<uint32_t>(change.type == VT_UI8 ? change.value & 0xFFFF : change.value);
  return S_OK;
}

STDMETHODIMP TestEncoderTransform::RegisterForEvent(const GUID*, LONG_PTR) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::UnregisterForEvent(const GUID*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::SetAllDefaults() {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::SetValueWithNotify(const GUID* api, VARIANT* value,
                                                      GUID** changed, ULONG* count) {
  if (changed)
    *changed = nullptr;
  if (count)
    *count = 0;
  return SetValue(api, value);
}

STDMETHODIMP TestEncoderTransform::SetAllDefaultsWithNotify(GUID**, ULONG*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::GetAllSettings(IStream*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::SetAllSettings(IStream*) {
  return E_NOTIMPL;
}

STDMETHODIMP TestEncoderTransform::SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) {
  return E_NOTIMPL;
}

}  // namespace Sorvane::test
