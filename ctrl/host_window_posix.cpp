#include "ctrl/host_window.h"

namespace Sorvane::ctrl {

// No host window exists on this platform: play falls back to the host's play command.
SpacePress PressSpaceInHostWindow() {
  return {};
}

bool PressSpaceAgain(void*) {
  return false;
}

}  // namespace Sorvane::ctrl
