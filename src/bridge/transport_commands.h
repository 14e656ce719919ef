#pragma once
#include <cstdint>

#include "base/clock.h"
#include "bridge/ctrl_bridge.h"

namespace Sorvane {

// The control-surface plug-in's bridge as seen from the transmit plug-in: the getter is resolved
// once, the record is read again on every call (so a later Connect or Disconnect shows at once).
class BridgeClient {
 public:
  explicit BridgeClient(CtrlBridgeGetFn getter) : getter_(getter) {}
  // True exactly when the bridge exists, is version 1, has a dispatch and dispatch(op) is 0.
  bool TryBridge(int32_t op) const;

 private:
  CtrlBridgeGetFn getter_;
};

// The getter of the loaded control-surface module for this host ("SorvaneCtrl.acsrf", in After
// Effects "SorvaneAE.aex"), looked up once per process among the modules already loaded.
CtrlBridgeGetFn ResolveBridge();

// Asks the control-surface plug-in to run a command (SVCtrlOpcode; 10 = redraw the current
// frame); false when the bridge is missing or refused it.
bool TryBridge(uint32_t command);

// Types the host's shortcut for a command when the bridge cannot run it (10 = the nudge).
void RunKeyboardFallback(uint32_t command);

// The new-client nudge by keyboard: one frame forward, 60 ms on `clock`, one frame back.
void KeyboardNudge(const Clock& clock = SteadyClock());

// Gets the host to render the current frame again for a new client: through the bridge, else by
// keyboard. Call it without locks that the host's UI thread may wait for.
void NudgeHostForNewClient();

}  // namespace Sorvane
