#pragma once
#include <memory>
#include <string>
#include <vector>

#include "encoder/hardware_encoder.h"

namespace Sorvane {

// An encoder engine the client may choose (id, user-facing label, optional note).
struct EncoderEngine {
  std::string id;
  std::string label;
  std::string note;
};

// The engines available on this machine, built fresh on every call; "software" is always last.
std::vector<EncoderEngine> EnumerateEngines();

// A new, unconfigured encoder of the platform's implementation; null when none can be made.
std::shared_ptr<IHardwareEncoder> CreateDefaultEncoder();
std::shared_ptr<IHardwareEncoder> CreateForEngine(const std::string& id);

}  // namespace Sorvane
