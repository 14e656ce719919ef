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

TEST_F(SendInputNudge, NothingIsTypedWhenAnotherWindowHasTheFocus) {
  // The desktop window is not ours: with it in front, keys would land in someone else's window.
  ShowWindow(window_, SW_HIDE);
  SetForegroundWindow(GetDesktopWindow());
  Pump();
  HWND front = GetForegroundWindow();
  DWORD owner = 0;
  if (front != nullptr)
    GetWindowThreadProcessId(front, &owner);
  if (owner == GetCurrentProcessId())
    GTEST_SKIP() << "cannot hand the focus to another process here";
  received.clear();
  PlatformKeyInjector().Inject(KeyTapEvents({kVkSpace, false}));
  Pump();
  EXPECT_TRUE(received.empty());
}

}  // namespace
}  // namespace Sorvane
