#include "bridge/key_injector.h"

#include <atomic>

namespace Sorvane {
namespace {
std::atomic<KeyInjector*> installedInjector{nullptr};
}

KeyInjector& CurrentKeyInjector() {
  KeyInjector* injector = installedInjector.load();
  return injector ? *injector : PlatformKeyInjector();
}

void SetKeyInjector(KeyInjector* injector) {
  installedInjector.store(injector);
}

}  // namespace Sorvane
