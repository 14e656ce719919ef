#include "sv-host/test_encoder.h"

namespace Sorvane::hostsim {

bool IsTestEncoderMode(const std::string& mode) {
  return mode == "sync" || mode == "async";
}

std::unique_ptr<TestEncoderSession> StartTestEncoder(const TestEncoderRequest&, std::ostream&,
                                                     std::string* error) {
  if (error)
    *error =
        "--test-encoder is only available in the Windows build: it registers a Media Foundation "
        "encoder transform, and the Linux plug-in encodes with libavcodec";
  return nullptr;
}

}  // namespace Sorvane::hostsim
