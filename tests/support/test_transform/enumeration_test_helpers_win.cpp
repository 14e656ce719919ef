#include "support/test_transform/enumeration_test_helpers_win.h"

namespace Sorvane::test {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text)
    out.push_back(static_cast<char>(*text));
  return out;
}

std::vector<std::string> EnumeratedNames(UINT32 flags, std::vector<CLSID>* clsids) {
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  std::vector<std::string> names;
  if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, flags, nullptr, &output, &activates, &count)))
    return names;
  for (UINT32 i = 0; i < count; ++i) {
    CLSID clsid{};
    LPWSTR name = nullptr;
    if (SUCCEEDED(activates[i]->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid)) &&
        SUCCEEDED(MFTGetInfo(clsid, &name, nullptr, nullptr, nullptr, nullptr, nullptr))) {
      names.push_back(Narrow(name));
      if (clsids)
        clsids->push_back(clsid);
    }
    CoTaskMemFree(name);
    activates[i]->Release();
  }
  CoTaskMemFree(activates);
  return names;
}

HRESULT ActivateThroughEnumeration(const CLSID& wanted, UINT32 flags, IMFTransform** out) {
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, MFVideoFormat_H264};
  IMFActivate** activates = nullptr;
  UINT32 count = 0;
  HRESULT hr = MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER, flags, nullptr, &output, &activates, &count);
  if (FAILED(hr))
    return hr;
  hr = MF_E_NOT_FOUND;
  for (UINT32 i = 0; i < count; ++i) {
    CLSID clsid{};
    if (hr == MF_E_NOT_FOUND &&
        SUCCEEDED(activates[i]->GetGUID(MFT_TRANSFORM_CLSID_Attribute, &clsid)) && clsid == wanted)
      hr = activates[i]->ActivateObject(IID_IMFTransform, reinterpret_cast<void**>(out));
    activates[i]->Release();
  }
  CoTaskMemFree(activates);
  return hr;
}

}  // namespace Sorvane::test
