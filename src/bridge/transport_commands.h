#pragma once
#include <cstdint>

namespace Sorvane {

// Host transport commands the phone sends (opcode − 0x20).
enum class SVCtrlOpcode : uint32_t {
  PlayPause = 0,
  StepForward = 1,
  StepBack = 2,
  StepForwardFive = 3,
  StepBackFive = 4,
  GotoIn = 5,
  GotoOut = 6,
  ShuttleReverse = 7,
  ShuttleStop = 8,
  ShuttleForward = 9,
};

// Asks the control-surface plug-in to run a command (10 = redraw the current frame); false when
// the bridge is missing or refused it.
bool TryBridge(uint32_t command);

// Types the host's shortcut for a command when the bridge cannot run it.
void RunKeyboardFallback(uint32_t command);

}  // namespace Sorvane
