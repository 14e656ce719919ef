#pragma once
#include <vector>

#include "bridge/keyboard_keys.h"

namespace Sorvane {

// Delivers synthetic key events to the host.
class KeyInjector {
 public:
  virtual ~KeyInjector() = default;
  virtual void Inject(const std::vector<KeyEvent>& events) = 0;
  // False for an injector that only records: nobody needs time to react to its keys.
  virtual bool ReachesTheHost() const { return true; }
};

// The platform's injector: SendInput on Windows (only while the host's own window has the focus);
// on Linux, where there is no host window to type into, one that only logs the keys.
KeyInjector& PlatformKeyInjector();

// One line at start-up saying how keys reach the host on this platform.
void AnnounceKeyInjector();

// The injector the keyboard fallback uses; tests may install their own (null restores the
// platform one).
KeyInjector& CurrentKeyInjector();
void SetKeyInjector(KeyInjector* injector);

}  // namespace Sorvane
