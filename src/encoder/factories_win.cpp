#include <mfapi.h>
#include <mftransform.h>

#include "diag/log_channels.h"
#include "encoder/adapter_choice.h"
#include "encoder/encoder_factory.h"
#include "encoder/encoder_thread.h"
#include "encoder/engine_list.h"
#include "encoder/mf_encoder_win.h"
#include "encoder/mf_startup_win.h"
#include "encoder/utf_text_win.h"

namespace Sorvane {
namespace {

// Not in every SDK's headers: the hardware vendor a hardware transform reports.
constexpr GUID kHardwareVendorId = {
    0x3aecb0cc, 0x035b, 0x4bcc, {0x81, 0x85, 0x2b, 0x8d, 0x55, 0x1e, 0xf3, 0xaf}};

void Note(EncoderVendor vendor, HardwareSeen& seen) {
  seen.nvidia |= vendor == EncoderVendor::Nvidia;
  seen.intel |= vendor == EncoderVendor::Intel;
  seen.amd |= vendor == EncoderVendor::Amd;
  seen.other |= vendor == EncoderVendor::Other;
}

void ProbeHardwareEncoders(const GUID& subtype, HardwareSeen& seen) {
  MFT_REGISTER_TYPE_INFO output{MFMediaType_Video, subtype};
  IMFActivate** items = nullptr;
  UINT32 count = 0;
  if (FAILED(MFTEnumEx(MFT_CATEGORY_VIDEO_ENCODER,
                       MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER, nullptr, &output,
                       &items, &count)))
    return;
  for (UINT32 i = 0; i < count; ++i) {
    wchar_t vendor[65] = {};
    if (items[i] != nullptr &&
        SUCCEEDED(items[i]->GetString(kHardwareVendorId, vendor, 65, nullptr)))
      Note(VendorFromId(CappedUtf8(vendor, 127)), seen);
    if (items[i] != nullptr)
      items[i]->Release();
  }
  CoTaskMemFree(items);
}

}  // namespace

std::vector<EncoderEngine> EnumerateEngines() {
  const EncoderThreadScope com;
  HardwareSeen seen;
  {
    const MfStartupScope startup(MfStartupScope::Kind::Full);
    ProbeHardwareEncoders(MFVideoFormat_H264, seen);
    ProbeHardwareEncoders(MFVideoFormat_HEVC, seen);
  }
  return EngineListFor(seen, "CPU encoder (Media Foundation software MFT)");
}

std::shared_ptr<IHardwareEncoder> CreateDefaultEncoder() {
  return std::make_shared<MediaFoundationEncoder>();
}

// Every engine gets the same encoder: its Configure walks the transforms in its own order.
std::shared_ptr<IHardwareEncoder> CreateForEngine(const std::string&) {
  return CreateDefaultEncoder();
}

}  // namespace Sorvane
