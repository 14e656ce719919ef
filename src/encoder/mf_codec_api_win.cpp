#include "encoder/mf_codec_api_win.h"

#include <codecapi.h>

namespace Sorvane {
namespace {

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

HRESULT SetCodecProperty(ICodecAPI* api, CodecProperty property, uint32_t value) {
  if (api == nullptr)
    return E_POINTER;
  VARIANT variant;
  VariantInit(&variant);
  if (property == CodecProperty::LowLatencyMode) {
    variant.vt = VT_BOOL;
    variant.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    variant.vt = VT_UI4;
    variant.ulVal = value;
  }
  return api->SetValue(&PropertyGuid(property), &variant);
}

void SetCodecProperties(ICodecAPI* api, const std::vector<CodecPropertyValue>& values) {
  for (const CodecPropertyValue& value : values)
    SetCodecProperty(api, value.property, value.value);
}

}  // namespace Sorvane
