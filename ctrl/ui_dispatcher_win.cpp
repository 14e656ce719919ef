#include <windows.h>

#include <mutex>

#include "ctrl/ctrl_log.h"
#include "ctrl/ui_dispatcher.h"

namespace Sorvane::ctrl {
namespace {

constexpr UINT kRunTaskMessage = WM_APP + 0x10;
constexpr wchar_t kClassName[] = L"SorvaneCtrlUiDispatcher";

std::mutex windowLock;
HWND dispatcherWindow = nullptr;  // guarded by windowLock

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

void RunTask(LPARAM lParam) {
  auto* task = reinterpret_cast<UiTask*>(lParam);
  Log(kCtrlChannel, kLogInfo, "ctrl: WndProc firing on thread=%lu fg=%p", GetCurrentThreadId(),
      static_cast<void*>(GetForegroundWindow()));
  try {
    (*task)();
  } catch (...) {
    Log(kCtrlChannel, kLogError, "ctrl: UI-thread callable threw");
  }
  delete task;
}

LRESULT CALLBACK DispatcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTaskMessage) {
    RunTask(lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void FreeQueuedTasks(HWND window) {
  MSG msg;
  while (PeekMessageW(&msg, window, kRunTaskMessage, kRunTaskMessage, PM_REMOVE))
    delete reinterpret_cast<UiTask*>(msg.lParam);
}

}  // namespace

bool InstallUiDispatcher() {
  std::lock_guard<std::mutex> lock(windowLock);
  if (dispatcherWindow != nullptr) {
    Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher already installed");
    return true;
  }
  Log(kCtrlChannel, kLogInfo, "ctrl: Install on thread=%lu", GetCurrentThreadId());
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DispatcherProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    Log(kCtrlChannel, kLogError, "ctrl: RegisterClassEx failed err=%lu", GetLastError());
    return false;
  }
  dispatcherWindow = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     ThisModule(), nullptr);
  if (dispatcherWindow == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: CreateWindowEx(HWND_MESSAGE) failed err=%lu",
        GetLastError());
    return false;
  }
  Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher installed hwnd=%p",
      static_cast<void*>(dispatcherWindow));
  return true;
}

void TearDownUiDispatcher() {
  std::lock_guard<std::mutex> lock(windowLock);
  if (dispatcherWindow == nullptr)
    return;
  FreeQueuedTasks(dispatcherWindow);
  DestroyWindow(dispatcherWindow);
  dispatcherWindow = nullptr;
  Log(kCtrlChannel, kLogInfo, "ctrl: UI-dispatcher torn down");
}

bool PostToUiThread(UiTask task) {
  // Posted under the lock so that a tear-down cannot miss a message and leak its task.
  std::lock_guard<std::mutex> lock(windowLock);
  if (dispatcherWindow == nullptr)
    return false;
  auto* copy = new UiTask(std::move(task));
  if (!PostMessageW(dispatcherWindow, kRunTaskMessage, 0, reinterpret_cast<LPARAM>(copy))) {
    Log(kCtrlChannel, kLogError, "ctrl: PostMessage failed err=%lu", GetLastError());
    delete copy;
    return false;
  }
  return true;
}

}  // namespace Sorvane::ctrl
