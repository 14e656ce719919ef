#include "encoder/mf_transform_walk_win.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include "diag/log_channels.h"
#include "encoder/mf_status_text.h"
#include "encoder/mf_transform_accept_win.h"
#include "encoder/utf_text_win.h"

namespace Sorvane {
namespace {

// Not in every SDK's headers: the LUID of the adapter a hardware transform runs on.
constexpr GUID kEnumAdapterLuid = {
    0x1d39518c, 0xe220, 0x4da8, {0xa0, 0x7f, 0xba, 0x17, 0x25, 0x52, 0xd6, 0xb1}};

struct Category {
  const char* label;
  UINT32 flags;
  bool hardware;
};

constexpr Category kCategories[] = {
    {"HW-sync", MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER, true},
    {"HW-async", MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER,
     true},
    {"SW", MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER, false},
};

// The activation objects of one enumeration, released together.
class ActivateList {
 public:
  ActivateList(const Category& category, Codec codec) {
    MFT_REGISTER_TYPE_INFO output{MFMediaType_Video,
                                  codec == Codec::H264 ? MFVideoFormat_H264 : MFVideoFormat_HEVC};
    if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, category.flags, nullptr, &output, &items_,
                         &count_))) {
      items_ = nullptr;
      count_ = 0;
    }
  }
  ~ActivateList() {
    for (UINT32 i = 0; i < count_; ++i) {
      if (items_[i] != nullptr)
        items_[i]->Release();
    }
    CoTaskMemFree(items_);
  }
  ActivateList(const ActivateList&) = delete;
  ActivateList& operator=(const ActivateList&) = delete;
  UINT32 Count() const { return count_; }
  IMFActivate* At(UINT32 i) const { return items_[i]; }

 private:
  IMFActivate** items_ = nullptr;
  UINT32 count_ = 0;
};

std::string FriendlyName(IMFAttributes* attributes) {
  wchar_t name[257] = {};
  if (attributes == nullptr ||
      FAILED(attributes->GetString(MFT_FRIENDLY_NAME_Attribute, name, 257, nullptr)))
    return std::string();
  return CappedUtf8(name, 1024);
}

// Some enumerations (Wine's) give activation objects without the name; the transform's own
// attribute store has it, else its registration.
std::string NameOfActivated(IMFActivate* activate, IMFTransform* transform) {
  ComRef<IMFAttributes> attributes;
  if (SUCCEEDED(transform->GetAttributes(attributes.Put()))) {
    std::string name = FriendlyName(attributes.Get());
    if (!name.empty())
      return name;
  }
  CLSID clsid{};
  LPWSTR registered = nullptr;
  if (SUCCEEDED(activate->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid)) &&
      SUCCEEDED(MFTGetInfo(clsid, &registered, nullptr, nullptr, nullptr, nullptr, nullptr)) &&
      registered != nullptr) {
    std::string name = CappedUtf8(registered, 1024);
    CoTaskMemFree(registered);
    if (!name.empty())
      return name;
  }
  return "<unknown MFT>";
}

// An enumeration round may list transforms of another kind (how Media Foundation combines its
// flags differs between systems): the transform's own attributes tell what it is.
const char* CategoryOf(IMFTransform* transform, const char* roundLabel) {
  ComRef<IMFAttributes> attributes;
  if (FAILED(transform->GetAttributes(attributes.Put())) || !attributes)
    return roundLabel;
  UINT32 urlLength = 0;
  const bool hardware =
      SUCCEEDED(attributes->GetStringLength(MFT_ENUM_HARDWARE_URL_Attribute, &urlLength));
  if (!hardware)
    return "SW";
  return MFGetAttributeUINT32(attributes.Get(), MF_TRANSFORM_ASYNC, 0) != 0 ? "HW-async"
                                                                            : "HW-sync";
}

// A hardware transform belongs to one adapter; give it a device there when ours is elsewhere.
void MoveDeviceToTransformAdapter(IMFActivate* activate, EncoderDevice& device) {
  LUID luid{};
  UINT32 size = 0;
  if (FAILED(activate->GetBlob(kEnumAdapterLuid, reinterpret_cast<UINT8*>(&luid), sizeof luid,
                               &size)) ||
      size != sizeof luid)
    return;
  if (device.knowsAdapter && device.adapterLuid.LowPart == luid.LowPart &&
      device.adapterLuid.HighPart == luid.HighPart)
    return;
  EncoderDevice own = CreateEncoderDeviceOn(luid);
  if (own.device)
    device = std::move(own);
}

// Activates and tests one candidate; Next when it is not the one.
CandidateVerdict TryCandidate(const Category& category, IMFActivate* activate,
                              const TransformRequest& request, EncoderDevice& device,
                              const std::function<CandidateVerdict(CandidateTransform&)>& finish,
                              CandidateTransform* chosen) {
  CandidateTransform candidate;
  candidate.category = category.label;
  candidate.asyncCategory = (category.flags & MFT_ENUM_FLAG_ASYNCMFT) != 0;
  candidate.name = FriendlyName(activate);
  if (category.hardware)
    MoveDeviceToTransformAdapter(activate, device);
  const HRESULT hr =
      activate->ActivateObject(__uuidof(IMFTransform), candidate.transform.PutVoid());
  if (FAILED(hr) || !candidate.transform) {
    Log(channels::kEncoder, kLogInfo, "  [%s] activate \"%s\" failed %s", category.label,
        candidate.name.empty() ? "<unknown MFT>" : candidate.name.c_str(),
        StatusText(static_cast<uint32_t>(FAILED(hr) ? hr : E_POINTER)).c_str());
    candidate.transform.Reset();
    return CandidateVerdict::Next;
  }
  if (candidate.name.empty())
    candidate.name = NameOfActivated(activate, candidate.transform.Get());
  candidate.category = CategoryOf(candidate.transform.Get(), category.label);
  Log(channels::kEncoder, kLogInfo, "trying %s MFT: \"%s\"", candidate.category,
      candidate.name.c_str());
  if (!AcceptTransform(request, device.manager.Get(), candidate)) {
    ReleaseTransform(candidate);
    return CandidateVerdict::Next;
  }
  const CandidateVerdict verdict = finish(candidate);
  if (verdict == CandidateVerdict::Take)
    *chosen = std::move(candidate);
  else
    ReleaseTransform(candidate);
  return verdict;
}

}  // namespace

void ShutDownAsyncTransform(IMFTransform* transform) {
  if (transform == nullptr)
    return;
  ComRef<IMFShutdown> shutdown;
  if (SUCCEEDED(transform->QueryInterface(__uuidof(IMFShutdown), shutdown.PutVoid())) && shutdown)
    shutdown->Shutdown();  // MF_E_SHUTDOWN: already done, which is as good
}

void ReleaseTransform(CandidateTransform& candidate) {
  ShutDownAsyncTransform(candidate.transform.Get());
  candidate.transform.Reset();
}

bool WalkTransforms(const TransformRequest& request, EncoderDevice& device,
                    const std::function<CandidateVerdict(CandidateTransform&)>& finish,
                    CandidateTransform* chosen) {
  for (const Category& category : kCategories) {
    const ActivateList list(category, request.codec);
    for (UINT32 i = 0; i < list.Count(); ++i) {
      if (list.At(i) == nullptr)
        continue;
      switch (TryCandidate(category, list.At(i), request, device, finish, chosen)) {
        case CandidateVerdict::Take:
          return true;
        case CandidateVerdict::Stop:
          return false;
        case CandidateVerdict::Next:
          break;
      }
    }
  }
  return false;
}

}  // namespace Sorvane
