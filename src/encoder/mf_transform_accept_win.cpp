#include "encoder/mf_transform_accept_win.h"

#include <mfapi.h>
#include <mferror.h>

#include "diag/log_channels.h"
#include "encoder/mf_status_text.h"

namespace Sorvane {
namespace {

constexpr UINT32 kH264High = 100;
constexpr UINT32 kHevcMain = 1;

std::string Text(HRESULT hr) {
  return StatusText(static_cast<uint32_t>(hr));
}

void SetPictureShape(IMFMediaType* type, const TransformRequest& request) {
  MFSetAttributeSize(type, MF_MT_FRAME_SIZE, static_cast<UINT32>(request.width),
                     static_cast<UINT32>(request.height));
  MFSetAttributeRatio(type, MF_MT_FRAME_RATE, static_cast<UINT32>(request.fps), 1);
  MFSetAttributeRatio(type, MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
}

bool UnlockAsync(const TransformRequest& request, CandidateTransform& candidate) {
  if (!request.allowAsync) {
    Log(channels::kEncoder, kLogInfo,
        "  [%s] async MFT — skipping (Setup → \"Use NVIDIA/Intel HW HEVC encoders\" is OFF)",
        candidate.category);
    return false;
  }
  ComRef<IMFAttributes> attributes;
  HRESULT hr = candidate.transform->GetAttributes(attributes.Put());
  if (FAILED(hr) || !attributes) {
    Log(channels::kEncoder, kLogInfo, "  [%s] async-MFT GetAttributes failed %s — skipping",
        candidate.category, Text(FAILED(hr) ? hr : E_POINTER).c_str());
    return false;
  }
  hr = attributes->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, TRUE);
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogInfo, "  [%s] ASYNC_UNLOCK failed %s — skipping",
        candidate.category, Text(hr).c_str());
    return false;
  }
  Log(channels::kEncoder, kLogInfo, "  [%s] async MFT — unlocked, will drive via events",
      candidate.category);
  return true;
}

// Vendor encoders read these only when the types are set; given afterwards they are refused or
// ignored, and the encoder keeps its own defaults.
void SetStaticProperties(const TransformRequest& request, CandidateTransform& candidate) {
  const ComRef<ICodecAPI> api = CodecApiOf(candidate.transform.Get());
  if (api)
    SetCodecProperties(api.Get(), StaticCodecProperties(request.rates), *request.rejections);
}

bool SetOutputType(const TransformRequest& request, CandidateTransform& candidate) {
  ComRef<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(type.Put());
  if (SUCCEEDED(hr)) {
    const bool h264 = request.codec == Codec::H264;
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, h264 ? MFVideoFormat_H264 : MFVideoFormat_HEVC);
    type->SetUINT32(MF_MT_AVG_BITRATE, request.bitrate);
    SetPictureShape(type.Get(), request);
    type->SetUINT32(MF_MT_MPEG2_PROFILE, h264 ? kH264High : kHevcMain);
    hr = candidate.transform->SetOutputType(0, type.Get(), 0);
  }
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogInfo, "  [%s] SetOutputType rejected %s — skipping",
        candidate.category, Text(hr).c_str());
    return false;
  }
  return true;
}

// The transform's own NV12 type when it offers one, else one of ours.
ComRef<IMFMediaType> Nv12InputType(IMFTransform* transform) {
  for (DWORD i = 0;; ++i) {
    ComRef<IMFMediaType> offered;
    if (FAILED(transform->GetInputAvailableType(0, i, offered.Put())))
      break;
    GUID subtype{};
    if (SUCCEEDED(offered->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFVideoFormat_NV12)
      return offered;
  }
  ComRef<IMFMediaType> type;
  if (SUCCEEDED(MFCreateMediaType(type.Put()))) {
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  }
  return type;
}

bool SetInputType(const TransformRequest& request, CandidateTransform& candidate) {
  ComRef<IMFMediaType> type = Nv12InputType(candidate.transform.Get());
  HRESULT hr = E_OUTOFMEMORY;
  if (type) {
    SetPictureShape(type.Get(), request);
    hr = candidate.transform->SetInputType(0, type.Get(), 0);
  }
  if (FAILED(hr)) {
    Log(channels::kEncoder, kLogInfo, "  [%s] SetInputType rejected %s — skipping",
        candidate.category, Text(hr).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool AcceptTransform(const TransformRequest& request, IMFDXGIDeviceManager* manager,
                     CandidateTransform& candidate) {
  candidate.hwGpu = false;
  candidate.async = false;
  ComRef<IMFAttributes> attributes;
  const HRESULT read = candidate.transform->GetAttributes(attributes.Put());
  if (SUCCEEDED(read) && attributes) {
    candidate.async = MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 0) != 0;
  } else if (candidate.asyncCategory) {
    // Listed as asynchronous but cannot be unlocked without its attributes. (A synchronous
    // transform may well have none.)
    candidate.async = true;
    if (!request.allowAsync)
      return UnlockAsync(request, candidate);
    Log(channels::kEncoder, kLogInfo, "  [%s] async-MFT GetAttributes failed %s — skipping",
        candidate.category, Text(FAILED(read) ? read : E_POINTER).c_str());
    return false;
  }
  if (candidate.async && !UnlockAsync(request, candidate))
    return false;
  if (manager != nullptr) {
    const HRESULT hr = candidate.transform->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                                           reinterpret_cast<ULONG_PTR>(manager));
    if (SUCCEEDED(hr))
      candidate.hwGpu = true;
    else
      Log(channels::kEncoder, kLogInfo, "  SET_D3D_MANAGER rejected %s — MFT runs SW",
          Text(hr).c_str());
  }
  request.rejections->NewCandidate();
  SetStaticProperties(request, candidate);
  return SetOutputType(request, candidate) && SetInputType(request, candidate);
}

}  // namespace Sorvane
