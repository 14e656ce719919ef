#pragma once
#include <vector>

#include "encoder/encoder_factory.h"

namespace Sorvane {

// Which vendors' hardware encoders a factory found on this machine.
struct HardwareSeen {
  bool nvidia = false;
  bool intel = false;
  bool amd = false;
  bool other = false;
};

// The engine list for what was found: the vendors in fixed order, then "software" with
// `softwareNote` when any hardware encoder was seen (else the no-hardware note); logs the summary.
std::vector<EncoderEngine> EngineListFor(const HardwareSeen& seen, const char* softwareNote);

}  // namespace Sorvane
