#include <windows.h>

#include "bridge/key_injector.h"
#include "bridge/own_windows_win.h"
#include "diag/log_channels.h"

namespace Sorvane {
namespace {

// The host's own window, not another application's and not one of our dialogs (a space there
// would flip the focused switch of the setup dialog, which saves at once).
bool HostOwnsForegroundWindow() {
  HWND foreground = GetForegroundWindow();
  if (foreground == nullptr)
    return false;
  DWORD processId = 0;
  GetWindowThreadProcessId(foreground, &processId);
  return processId == GetCurrentProcessId() && !IsPluginDialogWindow(foreground);
}

INPUT ToInput(const KeyEvent& e) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = e.virtualKey;
  input.ki.dwFlags = (e.keyUp ? KEYEVENTF_KEYUP : 0) | (e.extended ? KEYEVENTF_EXTENDEDKEY : 0);
  return input;
}

class SendInputKeyInjector final : public KeyInjector {
 public:
  void Inject(const std::vector<KeyEvent>& events) override {
    // SendInput types into whatever has the focus; never into another application.
    if (!HostOwnsForegroundWindow()) {
      Log(channels::kKeyboard, kLogInfo, "foreground window is not the host's — keys not sent: %s",
          DescribeKeyEvents(events).c_str());
      return;
    }
    std::vector<INPUT> inputs;
    for (const KeyEvent& e : events)
      inputs.push_back(ToInput(e));
    const UINT sent =
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), static_cast<int>(sizeof(INPUT)));
    if (sent != inputs.size()) {
      Log(channels::kKeyboard, kLogInfo, "SendInput sent=%u expected=%d err=%lu", sent,
          static_cast<int>(inputs.size()), GetLastError());
    }
  }
};

}  // namespace

KeyInjector& PlatformKeyInjector() {
  static SendInputKeyInjector injector;
  return injector;
}

void AnnounceKeyInjector() {
  Log(channels::kKeyboard, kLogInfo,
      "keyboard fallback: SendInput, only while the host's own window has the focus");
}

}  // namespace Sorvane
