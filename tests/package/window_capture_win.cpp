// Saves a screenshot of another program's window for the user guide: waits for a shown top-level
// window of the given class, optionally presses one of its buttons first, and writes the PNG into
// the build's screenshots folder (see SaveWindowScreenshot).
// Usage: sv-window-capture CLASS NAME.png [--press CONTROL_ID] [--wait SECONDS]
// Exit codes: 0 saved, 1 bad arguments, 2 no such window in time, 3 the screenshot failed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "ui/window_screenshot_win.h"

namespace {

HWND WaitForShownWindow(const wchar_t* windowClass, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    HWND window = FindWindowW(windowClass, nullptr);
    if (window && IsWindowVisible(window))
      return window;
    Sleep(100);
  }
  return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: sv-window-capture CLASS NAME.png [--press CONTROL_ID] [--wait SECONDS]\n",
               stderr);
    return 1;
  }
  int press = 0, seconds = 60;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--press") == 0)
      press = _wtoi(argv[i + 1]);
    else if (std::wcscmp(argv[i], L"--wait") == 0)
      seconds = _wtoi(argv[i + 1]);
  }
  HWND window = WaitForShownWindow(argv[1], seconds);
  if (!window) {
    std::fprintf(stderr, "sv-window-capture: no window of class %ls\n", argv[1]);
    return 2;
  }
  if (press != 0) {
    SendMessageW(GetDlgItem(window, press), BM_CLICK, 0, 0);
    Sleep(500);  // the status rows fill on the dialog's next timer tick
  }
  if (!Sorvane::test::SaveWindowScreenshot(window, argv[2])) {
    std::fprintf(stderr, "sv-window-capture: could not save %ls\n", argv[2]);
    return 3;
  }
  return 0;
}
