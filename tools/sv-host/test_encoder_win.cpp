#include <objbase.h>

#include <optional>

#include "store/install_identity.h"
#include "support/test_transform/test_transform.h"
#include "sv-host/test_encoder.h"

namespace Sorvane::hostsim {
namespace {

class RegisteredTestEncoder final : public TestEncoderSession {
 public:
  explicit RegisteredTestEncoder(const test::TestTransformOptions& options)
      : comResult_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)), registration_(options) {}
  ~RegisteredTestEncoder() override {
    registration_.reset();
    if (SUCCEEDED(comResult_))
      CoUninitialize();
  }
  // The class object must be registered from the multithreaded apartment, where the plug-in's
  // encoder threads activate it.
  bool InMultithreadedApartment() const { return SUCCEEDED(comResult_); }
  test::TestTransformRegistration& Registration() { return *registration_; }

 private:
  HRESULT comResult_;
  std::optional<test::TestTransformRegistration> registration_;
};

}  // namespace

bool IsTestEncoderMode(const std::string& mode) {
  return mode == "sync" || mode == "async";
}

std::unique_ptr<TestEncoderSession> StartTestEncoder(const TestEncoderRequest& request,
                                                     std::ostream& progress, std::string* error) {
  if (!IsTestEncoderMode(request.mode)) {
    if (error)
      *error = "--test-encoder takes sync or async, not \"" + request.mode + "\"";
    return nullptr;
  }
  test::TestTransformOptions base;
  base.async = request.mode == "async";
  base.hardware = true;
  test::TestTransformOptions options = test::RealisticOptions(base, request.latencyFrames);
  options.sessionLimit = request.sessionLimit;
  options.loseDeviceAtFrame = request.loseDeviceAtFrame;
  auto session = std::make_unique<RegisteredTestEncoder>(options);
  if (!session->InMultithreadedApartment()) {
    if (error)
      *error = "COM could not be initialised in the multithreaded apartment";
    return nullptr;
  }
  if (!session->Registration().Ok()) {
    if (error)
      *error = "registering the test encoder transform failed: " + session->Registration().Error();
    return nullptr;
  }
  installid::SetEnableAsyncHwEncoders(options.async);
  progress << "sv-host: test encoder registered: \"" << session->Registration().FriendlyName()
           << "\" (enableAsyncHwEncoders=" << (options.async ? "true" : "false") << ", latency "
           << options.latencyFrames << " frames" << (options.sessionLimit ? ", one session" : "");
  if (options.loseDeviceAtFrame > 0)
    progress << ", device lost at frame " << options.loseDeviceAtFrame;
  progress << ")\n";
  return session;
}

}  // namespace Sorvane::hostsim
