#pragma once
#include <windows.h>

namespace Sorvane {

// True when `window` is one of the plug-ins' own dialogs or a window owned by one (a message box
// it opened): the host's shortcuts must never be typed there, and it is never the host's window.
bool IsPluginDialogWindow(HWND window);

}  // namespace Sorvane
