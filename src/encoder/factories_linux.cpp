#include "diag/log_channels.h"
#include "encoder/encoder_factory.h"
#include "encoder/engine_list.h"
#include "encoder/libav_encoder.h"
#include "encoder/libav_probe.h"

namespace Sorvane {
namespace {

constexpr uint32_t kVendorNvidia = 0x10DE;
constexpr uint32_t kVendorIntel = 0x8086;
constexpr uint32_t kVendorAmd = 0x1002;

// A vendor counts when one of its encoders really opens here, for either codec. NVENC is
// NVIDIA's and Quick Sync Intel's; a VAAPI encoder belongs to the vendor of the render node.
HardwareSeen ProbeHardware() {
  HardwareSeen seen;
  for (Codec codec : {Codec::H264, Codec::HEVC}) {
    for (const EncoderCandidate& candidate : EncoderCandidates(codec)) {
      if (!candidate.hardware || !HardwareEncoderOpens(candidate))
        continue;
      uint32_t vendor = 0;
      if (candidate.family == EncoderFamily::Nvenc)
        vendor = kVendorNvidia;
      else if (candidate.family == EncoderFamily::Qsv)
        vendor = kVendorIntel;
      else
        vendor = RenderNodeVendor(FirstRenderNode());
      seen.nvidia |= vendor == kVendorNvidia;
      seen.intel |= vendor == kVendorIntel;
      seen.amd |= vendor == kVendorAmd;
      seen.other |= vendor != kVendorNvidia && vendor != kVendorIntel && vendor != kVendorAmd;
    }
  }
  return seen;
}

}  // namespace

std::vector<EncoderEngine> EnumerateEngines() {
  const HardwareSeen seen = ProbeHardware();
  return EngineListFor(seen, "CPU encoder (libx264 / libx265)");
}

std::shared_ptr<IHardwareEncoder> CreateDefaultEncoder() {
  return std::make_shared<LibavEncoder>();
}

// Every engine gets the same encoder: its Configure takes the first one that opens here.
std::shared_ptr<IHardwareEncoder> CreateForEngine(const std::string&) {
  return CreateDefaultEncoder();
}

}  // namespace Sorvane
