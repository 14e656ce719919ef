#include <windows.h>

#include <vector>

#include "ctrl/ctrl_fixture.h"

namespace Sorvane::test {
namespace {

struct Key {
  UINT message;
  WPARAM key;
  LPARAM bits;
};
std::vector<Key> keys;

LRESULT CALLBACK RecordKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN || message == WM_KEYUP) {
    keys.push_back({message, wParam, lParam});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A window of this process titled like the host's main window, with the host's video pane.
class PlayIntoHostWindow : public CtrlPluginTest {
 protected:
  void SetUp() override {
    CtrlPluginTest::SetUp();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordKeys;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SorvaneFakeHostMain";
    RegisterClassExW(&wc);
    wc.lpszClassName = L"DroverLord - Window Class";
    RegisterClassExW(&wc);
    main_ = CreateWindowExW(0, L"SorvaneFakeHostMain", L"Adobe Premiere Pro 2026",
                            WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                            wc.hInstance, nullptr);
    pane_ = CreateWindowExW(0, L"DroverLord - Window Class", L"Program", WS_CHILD | WS_VISIBLE, 10,
                            10, 200, 100, main_, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(main_ && pane_);
    Connect();
    host().ClearCalls();
    keys.clear();
  }
  void TearDown() override {
    DestroyWindow(main_);
    CtrlPluginTest::TearDown();
  }
  size_t SpacePairs() const {
    size_t downs = 0;
    for (const Key& k : keys)
      if (k.message == WM_KEYDOWN && k.key == VK_SPACE)
        ++downs;
    return downs;
  }

  HWND main_ = nullptr;
  HWND pane_ = nullptr;
};

TEST_F(PlayIntoHostWindow, InTheForegroundOneSpacePairGoesToTheVideoPane) {
  PumpUntil(
      [&] {
        SetForegroundWindow(main_);
        return GetForegroundWindow() == main_;
      },
      1000);
  if (GetForegroundWindow() != main_)
    GTEST_SKIP() << "no desktop focus here (run inside xvfb-run)";
  EXPECT_EQ(Dispatch(0), 0);
  ASSERT_TRUE(PumpUntil([&] { return keys.size() >= 2; }));
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(keys[0].bits, 0x00390001);
  EXPECT_EQ(keys[1].message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(static_cast<uint32_t>(keys[1].bits), 0xC0390001u);
  EXPECT_EQ(GetFocus(), pane_);
  // No warm-up retry for a host that was already in front.
  PumpUntil([] { return false; }, 600);
  EXPECT_EQ(SpacePairs(), 1u);
}

TEST_F(PlayIntoHostWindow, InTheBackgroundTheSpaceIsRetriedWhileNotPlaying) {
  HWND other = CreateWindowExW(0, L"SorvaneFakeHostMain", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50,
                               50, main_, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(other);
  PumpUntil([] { return false; }, 200);
  if (GetForegroundWindow() == main_)
    GTEST_SKIP() << "could not move the focus away from the host window";
  EXPECT_EQ(Dispatch(0), 0);
  // The fake host ignores the key, so it is still not playing after the warm-up delay.
  EXPECT_TRUE(PumpUntil([&] { return SpacePairs() == 2; }));
  PumpUntil([] { return false; }, 400);
  EXPECT_EQ(SpacePairs(), 2u);
  DestroyWindow(other);
}

}  // namespace
}  // namespace Sorvane::test
