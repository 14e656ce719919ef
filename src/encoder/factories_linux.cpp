#include "diag/log_channels.h"
#include "encoder/encoder_factory.h"
#include "encoder/libav_encoder.h"

namespace Sorvane {
namespace {

bool AnyOpens(const char* h264Name, const char* hevcName) {
  return LibavEncoder::EncoderOpens(h264Name, Codec::H264) ||
         LibavEncoder::EncoderOpens(hevcName, Codec::HEVC);
}

}  // namespace

std::vector<EncoderEngine> EnumerateEngines() {
  const bool nvidia = AnyOpens("h264_nvenc", "hevc_nvenc");
  const bool intel = AnyOpens("h264_qsv", "hevc_qsv");
  const bool amd = AnyOpens("h264_amf", "hevc_amf");
  const bool other = AnyOpens("h264_vaapi", "hevc_vaapi");
  std::vector<EncoderEngine> engines;
  if (nvidia)
    engines.push_back({"nvidia", "NVIDIA NVENC", ""});
  if (intel)
    engines.push_back({"intel", "Intel Quick Sync", ""});
  if (amd)
    engines.push_back({"amd", "AMD AMF", ""});
  const bool anyHardware = nvidia || intel || amd || other;
  engines.push_back(
      {"software", "Software (CPU)",
       anyHardware ? "CPU encoder (libx264 / libx265)"
                   : "No hardware encoder detected. Using CPU — expect higher CPU load and lower "
                     "quality."});
  Log(channels::kFactories, kLogInfo,
      "EnumerateEngines: nvidia=%d intel=%d amd=%d other=%d → %zu entries", nvidia ? 1 : 0,
      intel ? 1 : 0, amd ? 1 : 0, other ? 1 : 0, engines.size());
  return engines;
}

std::shared_ptr<IHardwareEncoder> CreateDefaultEncoder() {
  return std::make_shared<LibavEncoder>();
}

// Every engine gets the same encoder: its Configure picks the first one that opens here.
std::shared_ptr<IHardwareEncoder> CreateForEngine(const std::string&) {
  return CreateDefaultEncoder();
}

}  // namespace Sorvane
