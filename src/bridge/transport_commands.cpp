#include "bridge/transport_commands.h"

#include "diag/log_channels.h"

namespace Sorvane {

// The bridge to the control-surface plug-in and the key injector are not part of this build yet:
// the bridge reports that it is missing and the keyboard fallback only says what it would do.
bool TryBridge(uint32_t) {
  return false;
}

void RunKeyboardFallback(uint32_t command) {
  Log(channels::kKeyboard, kLogInfo,
      "keyboard fallback for command %u: no key injection in this build — ignored", command);
}

}  // namespace Sorvane
