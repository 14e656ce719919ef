#include "encoder/mf_codec_api_win.h"

#include <codecapi.h>

#include "diag/log_channels.h"
#include "encoder/mf_status_text.h"

namespace Sorvane {
namespace {

// ICodecAPI's interface id; not every SDK's headers bind it to the type.
constexpr GUID kCodecApiId = {
    0x901db4c7, 0x31ce, 0x41a2, {0x85, 0xdc, 0x8f, 0xa0, 0xbf, 0x41, 0xb8, 0xda}};

constexpr GUID kLowLatencyMode = {STATIC_CODECAPI_AVLowLatencyMode};
constexpr GUID kRealTime = {STATIC_CODECAPI_AVEncCommonRealTime};
constexpr GUID kRateControlMode = {STATIC_CODECAPI_AVEncCommonRateControlMode};
constexpr GUID kMeanBitRate = {STATIC_CODECAPI_AVEncCommonMeanBitRate};
constexpr GUID kMaxBitRate = {STATIC_CODECAPI_AVEncCommonMaxBitRate};
constexpr GUID kQuality = {STATIC_CODECAPI_AVEncCommonQuality};
constexpr GUID kGopSize = {STATIC_CODECAPI_AVEncMPVGOPSize};
constexpr GUID kBPictureCount = {STATIC_CODECAPI_AVEncMPVDefaultBPictureCount};
constexpr GUID kEncodeQP = {STATIC_CODECAPI_AVEncVideoEncodeQP};
constexpr GUID kForceKeyFrame = {STATIC_CODECAPI_AVEncVideoForceKeyFrame};

const GUID& PropertyGuid(CodecProperty property) {
  switch (property) {
    case CodecProperty::LowLatencyMode:
      return kLowLatencyMode;
    case CodecProperty::RealTime:
      return kRealTime;
    case CodecProperty::RateControlMode:
      return kRateControlMode;
    case CodecProperty::MeanBitRate:
      return kMeanBitRate;
    case CodecProperty::MaxBitRate:
      return kMaxBitRate;
    case CodecProperty::Quality:
      return kQuality;
    case CodecProperty::GopSize:
      return kGopSize;
    case CodecProperty::BPictureCount:
      return kBPictureCount;
    case CodecProperty::EncodeQP:
      return kEncodeQP;
    case CodecProperty::ForceKeyFrame:
      break;
  }
  return kForceKeyFrame;
}

}  // namespace

ComRef<ICodecAPI> CodecApiOf(IMFTransform* transform) {
  ComRef<ICodecAPI> api;
  if (transform != nullptr)
    transform->QueryInterface(kCodecApiId, api.PutVoid());
  return api;
}

HRESULT SetCodecProperty(ICodecAPI* api, CodecProperty property, uint64_t value) {
  if (api == nullptr)
    return E_POINTER;
  VARIANT variant;
  VariantInit(&variant);
  if (property == CodecProperty::LowLatencyMode) {
    variant.vt = VT_BOOL;
    variant.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (property == CodecProperty::EncodeQP) {
    variant.vt = VT_UI8;
    variant.ullVal = value;
  } else {
    variant.vt = VT_UI4;
    variant.ulVal = static_cast<ULONG>(value);
  }
  return api->SetValue(&PropertyGuid(property), &variant);
}

std::optional<uint64_t> CodecPropertyValueOf(ICodecAPI* api, CodecProperty property) {
  if (api == nullptr)
    return std::nullopt;
  VARIANT variant;
  VariantInit(&variant);
  if (FAILED(api->GetValue(&PropertyGuid(property), &variant)) &&
      FAILED(api->GetDefaultValue(&PropertyGuid(property), &variant)))
    return std::nullopt;
  std::optional<uint64_t> value;
  if (variant.vt == VT_UI8)
    value = variant.ullVal;
  else if (variant.vt == VT_UI4)
    value = variant.ulVal;
  VariantClear(&variant);
  return value;
}

void PropertyRejections::Note(CodecProperty property, HRESULT result) {
  const uint32_t bit = 1u << static_cast<uint32_t>(property);
  if (SUCCEEDED(result)) {
    accepted_ |= bit;
    return;
  }
  if ((accepted_ | logged_) & bit)
    return;
  logged_ |= bit;
  Log(channels::kEncoder, kLogInfo, "codec property %s rejected %s", CodecPropertyName(property),
      StatusText(static_cast<uint32_t>(result)).c_str());
}

void SetCodecProperties(ICodecAPI* api, const std::vector<CodecPropertyValue>& values,
                        PropertyRejections& rejections) {
  for (const CodecPropertyValue& value : values)
    rejections.Note(value.property, SetCodecProperty(api, value.property, value.value));
}

}  // namespace Sorvane
