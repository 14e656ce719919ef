#include "encoder/engine_list.h"

#include "diag/log_channels.h"

namespace Sorvane {

std::vector<EncoderEngine> EngineListFor(const HardwareSeen& seen, const char* softwareNote) {
  std::vector<EncoderEngine> engines;
  if (seen.nvidia)
    engines.push_back({"nvidia", "NVIDIA NVENC", ""});
  if (seen.intel)
    engines.push_back({"intel", "Intel Quick Sync", ""});
  if (seen.amd)
    engines.push_back({"amd", "AMD AMF", ""});
  const bool anyHardware = seen.nvidia || seen.intel || seen.amd || seen.other;
  engines.push_back(
      {"software", "Software (CPU)",
       anyHardware ? softwareNote
                   : "No hardware encoder detected. Using CPU — expect higher CPU load and lower "
                     "quality."});
  Log(channels::kFactories, kLogInfo,
      "EnumerateEngines: nvidia=%d intel=%d amd=%d other=%d → %zu entries", seen.nvidia ? 1 : 0,
      seen.intel ? 1 : 0, seen.amd ? 1 : 0, seen.other ? 1 : 0, engines.size());
  return engines;
}

}  // namespace Sorvane
