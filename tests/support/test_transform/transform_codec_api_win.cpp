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
  std::lock_guard<std::mutex> lock(mutex_);
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
  slot_->state.RecordProperty(change);
  const HRESULT refused = slot_->Options().failures.codecApiSetValue;
  if (FAILED(refused))
    return refused;
  std::lock_guard<std::mutex> lock(mutex_);
  if (shutdown_)
    return MF_E_SHUTDOWN;
  values_[*api] = change;
  if (*api == kCodecApiGopSize)
    gopSize_ = static_cast<uint32_t>(change.value);
  else if (*api == kCodecApiForceKeyFrame && change.value != 0)
    forceKeyframe_ = true;
  else if (*api == kCodecApiEncodeQp)
    nextQp_ = static_cast<uint32_t>(change.value);
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
