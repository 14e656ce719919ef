#include "bridge/key_injector.h"
#include "diag/log_channels.h"

namespace Sorvane {
namespace {

class LoggingKeyInjector final : public KeyInjector {
 public:
  void Inject(const std::vector<KeyEvent>& events) override {
    Log(channels::kKeyboard, kLogInfo, "would type: %s", DescribeKeyEvents(events).c_str());
  }
  bool ReachesTheHost() const override { return false; }
};

}  // namespace

KeyInjector& PlatformKeyInjector() {
  static LoggingKeyInjector injector;
  return injector;
}

void AnnounceKeyInjector() {
  Log(channels::kKeyboard, kLogInfo,
      "keyboard fallback: no host window on this platform — keys are logged, not typed");
}

}  // namespace Sorvane
