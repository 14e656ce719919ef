#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "bridge/key_injector.h"
#include "bridge/keyboard_keys.h"

namespace Sorvane {
namespace {

std::vector<KeyEvent> received;

LRESULT CALLBACK RecordKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
      message == WM_SYSKEYUP) {
    const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
    const bool extended = (lParam & (1 << 24)) != 0;
    received.push_back({static_cast<uint16_t>(wParam), up, extended});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class SendInputNudge : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordKeys;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SorvaneKeyTarget";
    RegisterClassExW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"key target", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              10, 10, 200, 120, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    for (int attempt = 0; attempt < 5 && GetForegroundWindow() != window_; ++attempt) {
      SetForegroundWindow(window_);
      SetFocus(window_);
      Pump();
    }
    if (GetForegroundWindow() != window_)
      GTEST_SKIP() << "no desktop focus here (run inside xvfb-run)";
    received.clear();
  }
  void TearDown() override {
    if (window_)
      DestroyWindow(window_);
  }

  // Lets the input reach the window: a few rounds of the message loop.
  void Pump() {
    for (int round = 0; round < 50; ++round) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(10);
    }
  }

  // Other programs on the same display may take the focus meanwhile; the injector then rightly
  // types nothing, so such a round is repeated with our window in front again.
  std::vector<KeyEvent> TypeAndCollect(const std::vector<KeyEvent>& events) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      SetForegroundWindow(window_);
      SetFocus(window_);
      Pump();
      received.clear();
      PlatformKeyInjector().Inject(events);
      Pump();
      if (received == events || GetForegroundWindow() == window_)
        return received;
    }
    return received;
  }

  HWND window_ = nullptr;
};

TEST_F(SendInputNudge, EveryTransportShortcutArrivesAsTheTablePrescribes) {
  for (uint32_t request = 0; request < 10; ++request) {
    const auto events = KeyTapEvents(*FallbackKeyFor(request));
    EXPECT_EQ(TypeAndCollect(events), events) << "request " << request;
  }
}

TEST_F(SendInputNudge, NudgeKeysArriveForEveryHostKind) {
  for (HostKind kind :
       {HostKind::PremierePro, HostKind::AfterEffects, HostKind::MediaEncoder, HostKind::Unknown}) {
    const NudgeKeys keys = NudgeKeysFor(kind);
    std::vector<KeyEvent> expected = KeyTapEvents(keys.first);
    const auto second = KeyTapEvents(keys.second);
    expected.insert(expected.end(), second.begin(), second.end());
    std::vector<KeyEvent> got = TypeAndCollect(KeyTapEvents(keys.first));
    const auto more = TypeAndCollect(KeyTapEvents(keys.second));
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, expected) << keys.label;
  }
}

// Sees every key the system is given, whichever window it would go to: a refused injection shows
// as nothing here, whereas a window of ours would see nothing either way once it lost the focus.
class InjectedKeys {
 public:
  InjectedKeys() {
    hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, Record, GetModuleHandleW(nullptr), 0);
  }
  ~InjectedKeys() {
    if (hook_)
      UnhookWindowsHookEx(hook_);
  }
  bool installed() const { return hook_ != nullptr; }
  static std::vector<DWORD>& keys() {
    static std::vector<DWORD> seen;
    return seen;
  }

 private:
  static LRESULT CALLBACK Record(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION)
      keys().push_back(reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode);
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HHOOK hook_ = nullptr;
};

class RefusedInput : public SendInputNudge {
 protected:
  // Injects a space with `front` in the foreground; the keys the system saw.
  std::vector<DWORD> TypeSpaceWith(HWND front) {
    InjectedKeys hook;
    EXPECT_TRUE(hook.installed());
    for (int attempt = 0; attempt < 5 && GetForegroundWindow() != front; ++attempt) {
      SetForegroundWindow(front);
      Pump();
    }
    if (GetForegroundWindow() != front)
      return {0xFFFF};  // the caller skips: the focus did not move
    InjectedKeys::keys().clear();
    received.clear();
    PlatformKeyInjector().Inject(KeyTapEvents({kVkSpace, false}));
    Pump();
    return InjectedKeys::keys();
  }
};

TEST_F(RefusedInput, TheHostsOwnWindowGetsTheKeys) {
  // The hook does see an injection, so an empty result below means the injector refused.
  const auto seen = TypeSpaceWith(window_);
  if (seen == std::vector<DWORD>{0xFFFF})
    GTEST_SKIP() << "could not give our window the focus";
  EXPECT_EQ(seen, (std::vector<DWORD>{kVkSpace, kVkSpace}));
}

TEST_F(RefusedInput, NothingIsTypedWhenAnotherApplicationHasTheFocus) {
  // The desktop window belongs to another process: keys would land in someone else's window.
  HWND desktop = GetDesktopWindow();
  DWORD owner = 0;
  GetWindowThreadProcessId(desktop, &owner);
  if (owner == GetCurrentProcessId())
    GTEST_SKIP() << "the desktop window belongs to this process here";
  const auto seen = TypeSpaceWith(desktop);
  if (seen == std::vector<DWORD>{0xFFFF})
    GTEST_SKIP() << "cannot hand the focus to another process here";
  EXPECT_TRUE(seen.empty());
}

// A space in the setup dialog would flip its focused switch, which is saved at once.
TEST_F(RefusedInput, NothingIsTypedIntoOurOwnDialogs) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = RecordKeys;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"Sorvane.SetupDialog";
  RegisterClassExW(&wc);
  HWND dialog = CreateWindowExW(0, wc.lpszClassName, L"Sorvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                40, 40, 200, 120, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(dialog, nullptr);
  // A message box the dialog opened counts as the dialog.
  HWND box = CreateWindowExW(0, L"SorvaneKeyTarget", L"Forget?", WS_POPUP | WS_VISIBLE, 60, 60, 100,
                             60, dialog, nullptr, wc.hInstance, nullptr);
  for (HWND front : {dialog, box}) {
    const auto seen = TypeSpaceWith(front);
    if (seen == std::vector<DWORD>{0xFFFF})
      GTEST_SKIP() << "could not give the dialog the focus";
    EXPECT_TRUE(seen.empty()) << (front == dialog ? "dialog" : "its message box");
    EXPECT_TRUE(received.empty());
  }
  DestroyWindow(box);
  DestroyWindow(dialog);
}

}  // namespace
}  // namespace Sorvane
