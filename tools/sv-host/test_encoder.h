#pragma once
// `--test-encoder sync|async` (test use only): registers the test H.264 encoder transform in
// this process before the plug-in loads, so the plug-in's Media Foundation encoder finds it, and
// sets the install's asynchronous-encoder switch to match. It behaves as vendor encoders do
// (input kept, static properties, typed quantiser), with the latency, session limit and device
// loss asked for. Windows build only.
#include <memory>
#include <ostream>
#include <string>

namespace Sorvane::hostsim {

// What the test transform is asked to be: its mode and how much like a vendor encoder.
struct TestEncoderRequest {
  std::string mode;            // "sync" or "async"
  int latencyFrames = 0;       // frames in flight
  bool sessionLimit = false;   // one streaming session at a time
  int loseDeviceAtFrame = -1;  // the device is lost at this frame (from 1); -1 never
};

// Keeps the transform registered while it lives.
class TestEncoderSession {
 public:
  virtual ~TestEncoderSession() = default;
};

bool IsTestEncoderMode(const std::string& mode);  // "sync" or "async"

// Null with `error` set when it cannot be done (always on Linux).
std::unique_ptr<TestEncoderSession> StartTestEncoder(const TestEncoderRequest& request,
                                                     std::ostream& progress, std::string* error);
inline std::unique_ptr<TestEncoderSession> StartTestEncoder(const std::string& mode,
                                                            std::ostream& progress,
                                                            std::string* error) {
  TestEncoderRequest request;
  request.mode = mode;
  return StartTestEncoder(request, progress, error);
}

}  // namespace Sorvane::hostsim
