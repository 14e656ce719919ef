#include <windows.h>

#include <algorithm>
#include <string>

#include "bridge/own_windows_win.h"
#include "ctrl/ctrl_log.h"
#include "ctrl/host_window.h"

namespace Sorvane::ctrl {
namespace {

constexpr LPARAM kSpaceDownBits = 0x00390001;
constexpr LPARAM kSpaceUpBits = static_cast<LPARAM>(0xC0390001u);
constexpr wchar_t kVideoPaneClass[] = L"DroverLord - Window Class";

struct MainWindowSearch {
  HWND titled = nullptr;
  HWND first = nullptr;
};

// The title as the system keeps it. GetWindowText would send WM_GETTEXT to a window of another
// thread and wait for it, and a thread that waits for the lock this UI thread's caller holds
// never answers.
std::wstring TitleOf(HWND window, int capacity) {
  std::wstring title(static_cast<size_t>(capacity), L'\0');
  title.resize(
      static_cast<size_t>(std::max(0, InternalGetWindowText(window, title.data(), capacity))));
  return title;
}

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM data) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != GetCurrentProcessId() || !IsWindowVisible(window) ||
      GetWindow(window, GW_OWNER) != nullptr || IsPluginDialogWindow(window))
    return TRUE;
  auto* search = reinterpret_cast<MainWindowSearch*>(data);
  if (search->first == nullptr)
    search->first = window;
  const std::wstring title = TitleOf(window, 128);
  if (title.find(L"Premiere") != std::wstring::npos) {
    search->titled = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindHostMainWindow() {
  MainWindowSearch search;
  EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.titled ? search.titled : search.first;
}

BOOL CALLBACK VisitChild(HWND window, LPARAM data) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (IsWindowVisible(window) && std::wstring(className) == kVideoPaneClass) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindVideoPane(HWND main) {
  HWND pane = nullptr;
  EnumChildWindows(main, VisitChild, reinterpret_cast<LPARAM>(&pane));  // all descendants
  return pane ? pane : main;
}

void GiveFocus(HWND target) {
  const DWORD targetThread = GetWindowThreadProcessId(target, nullptr);
  const DWORD thisThread = GetCurrentThreadId();
  if (targetThread == thisThread) {
    SetFocus(target);
    return;
  }
  AttachThreadInput(thisThread, targetThread, TRUE);
  SetFocus(target);
  AttachThreadInput(thisThread, targetThread, FALSE);
}

void PostSpace(HWND target) {
  PostMessageW(target, WM_KEYDOWN, VK_SPACE, kSpaceDownBits);
  PostMessageW(target, WM_KEYUP, VK_SPACE, kSpaceUpBits);
}

}  // namespace

SpacePress PressSpaceInHostWindow() {
  SpacePress press;
  HWND main = FindHostMainWindow();
  if (main == nullptr)
    return press;
  press.mainWindowFound = true;
  HWND target = FindVideoPane(main);
  press.target = target;
  press.hostWasForeground = GetForegroundWindow() == main;
  if (!press.hostWasForeground) {
    PostMessageW(main, WM_ACTIVATEAPP, 1, GetWindowThreadProcessId(main, nullptr));
    PostMessageW(main, WM_ACTIVATE, WA_ACTIVE, 0);
  }
  GiveFocus(target);
  PostSpace(target);
  char className[128] = {};
  char title[256] = {};
  GetClassNameA(target, className, 128);
  const std::wstring wideTitle = TitleOf(target, 256);
  WideCharToMultiByte(CP_ACP, 0, wideTitle.c_str(), -1, title, sizeof title, nullptr, nullptr);
  Log(kCtrlChannel, kLogInfo,
      "ctrl: play[ui]: PostMessage VK_SPACE target=%p class=\"%s\" title=\"%s\" main=%p wasFg=%d",
      static_cast<void*>(target), className, title, static_cast<void*>(main),
      press.hostWasForeground ? 1 : 0);
  return press;
}

bool PressSpaceAgain(void* target) {
  HWND window = static_cast<HWND>(target);
  if (!IsWindow(window))
    return false;
  PostSpace(window);
  return true;
}

}  // namespace Sorvane::ctrl
