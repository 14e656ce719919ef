#pragma once
// `--test-encoder sync|async` (test use only): registers the test H.264 encoder transform in
// this process before the plug-in loads, so the plug-in's Media Foundation encoder finds it, and
// sets the install's asynchronous-encoder switch to match. Windows build only.
#include <memory>
#include <ostream>
#include <string>

namespace Sorvane::hostsim {

// Keeps the transform registered while it lives.
class TestEncoderSession {
 public:
  virtual ~TestEncoderSession() = default;
};

bool IsTestEncoderMode(const std::string& mode);  // "sync" or "async"

// Null with `error` set when it cannot be done (always on Linux).
std::unique_ptr<TestEncoderSession> StartTestEncoder(const std::string& mode,
                                                     std::ostream& progress, std::string* error);

}  // namespace Sorvane::hostsim
