#include "diag/log_channels.h"
#include "encoder/encoder_factory.h"

// The Windows encoder (Media Foundation) is not part of this build yet: instances stay dormant
// and the client is offered only the software entry.
namespace Sorvane {

std::vector<EncoderEngine> EnumerateEngines() {
  return {EncoderEngine{"software", "Software (CPU)",
                        "No hardware encoder detected. Using CPU — expect higher CPU load and "
                        "lower quality."}};
}

std::shared_ptr<IHardwareEncoder> CreateDefaultEncoder() {
  Log(channels::kFactories, kLogInfo,
      "CreateDefaultEncoder: no Media Foundation encoder in this build — instance stays dormant");
  return nullptr;
}

std::shared_ptr<IHardwareEncoder> CreateForEngine(const std::string&) {
  return CreateDefaultEncoder();
}

}  // namespace Sorvane
