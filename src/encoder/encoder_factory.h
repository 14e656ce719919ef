#pragma once
#include <functional>
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

// Makes an encoder for an engine id, or the platform's default one for kDefaultEngine; null when
// none can be made. An instance is given one and makes every encoder of its life with it.
using EncoderFactoryFn =
    std::function<std::shared_ptr<IHardwareEncoder>(const std::string& engineId)>;
inline const std::string kDefaultEngine;

// CreateDefaultEncoder for kDefaultEngine, CreateForEngine for any other id.
inline EncoderFactoryFn PlatformEncoderFactory() {
  return [](const std::string& engineId) {
    return engineId == kDefaultEngine ? CreateDefaultEncoder() : CreateForEngine(engineId);
  };
}

}  // namespace Sorvane
