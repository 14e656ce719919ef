#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <objidl.h>
// after objidl.h
#include <gdiplus.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "base/thread_annotations.h"
#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/thread_guard.h"
#include "ui/setup_dialog.h"
#include "ui/setup_window_win.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kClassName[] = L"Sorvane.SetupDialog";

// Process-wide; deliberately never destroyed, so no joinable thread object meets static
// destruction at unload.
struct DialogProcess {
  std::mutex lock;  // serialises Show and Close
  std::thread thread GUARDED_BY(lock);
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> running{false};  // set before the thread starts, cleared as its last act
};

DialogProcess& Process() {
  static DialogProcess* process = new DialogProcess;
  return *process;
}

// Classes live until the process ends, but this module may be unloaded and loaded again: a class
// left by an earlier load points into code that is gone, so it is replaced.
void RegisterWindowClass() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW existing = {};
  if (GetClassInfoW(instance, kClassName, &existing)) {
    if (existing.lpfnWndProc == setupui::SetupWindowProc)
      return;
    UnregisterClassW(kClassName, instance);
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = setupui::SetupWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);
}

void RunMessageLoop(HWND window) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// The window reads the state through its user data, so it must go before the state does, also
// when an exception leaves RunDialog early.
struct WindowBeforeState {
  setupui::SetupDialogState& state;
  ~WindowBeforeState() {
    if (state.window != nullptr && IsWindow(state.window))
      DestroyWindow(state.window);
  }
};

void RunDialog(DialogProcess& process) {
  RegisterWindowClass();
  INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  auto state = std::make_unique<setupui::SetupDialogState>();
  const WindowBeforeState windowFirst{*state};
  Gdiplus::GdiplusStartupInput gdiplusInput;
  const bool gdiplus =
      Gdiplus::GdiplusStartup(&state->gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok;
  if (gdiplus && setupui::CreateSetupWindow(*state)) {
    process.window = state->window;
    RunMessageLoop(state->window);
  }
  process.window = nullptr;
  if (gdiplus)
    Gdiplus::GdiplusShutdown(state->gdiplusToken);
}

void DialogThread() {
  PrepareThreadForCrashes();
  DialogProcess& process = Process();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  static ThreadGuard guard(channels::kSetupDialog, "setup dialog");
  guard.Run([&] { RunDialog(process); });
  process.window = nullptr;
  if (SUCCEEDED(com))
    CoUninitialize();
  process.running = false;
}

}  // namespace

void ShowSetupDialog() {
  DialogProcess& process = Process();
  std::lock_guard<std::mutex> lock(process.lock);
  if (process.running) {
    // Still starting (no window yet) or open: never wait for it on the caller's thread.
    HWND window = process.window.load();
    if (window != nullptr && IsWindow(window)) {
      ShowWindow(window, SW_RESTORE);
      SetForegroundWindow(window);
    }
    return;
  }
  if (process.thread.joinable())
    process.thread.join();  // finished: `running` is cleared last
  process.running = true;
  process.thread = std::thread(DialogThread);
}

void CloseSetupDialog() {
  DialogProcess& process = Process();
  std::lock_guard<std::mutex> lock(process.lock);
  // A dialog still starting publishes its window shortly; keep asking until the thread ends.
  for (int i = 0; process.running && i < 1000; ++i) {
    if (HWND window = process.window.load())
      PostMessageW(window, WM_CLOSE, 0, 0);
    std::this_thread::sleep_for(10ms);
  }
  if (process.thread.joinable())
    process.thread.join();
}

}  // namespace Sorvane
