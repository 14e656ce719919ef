#pragma once

namespace Sorvane::ctrl {

// Typing the space bar into the host's own video pane (play starts more reliably this way than
// through the play command).
struct SpacePress {
  bool mainWindowFound = false;
  void* target = nullptr;  // the window the keys went to
  bool hostWasForeground = false;
};

// Finds the host's main window and its video pane, brings the host forward if needed, gives the
// pane the focus and posts a space bar down/up to it.
SpacePress PressSpaceInHostWindow();

// Posts the space bar again; false when the window no longer exists.
bool PressSpaceAgain(void* target);

}  // namespace Sorvane::ctrl
