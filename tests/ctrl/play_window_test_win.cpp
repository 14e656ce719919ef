#include <windows.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
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

// A window of another thread of the host process that does not answer messages: one of our
// dialogs whose thread waits for a lock, say. Looking for the host's window must not wait for it.
class UnansweringWindow {
 public:
  UnansweringWindow() {
    thread_ = std::thread([this] {
      window_ =
          CreateWindowExW(0, L"SorvaneFakeHostMain", L"Busy", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30,
                          30, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
      created_.set_value();
      // Answers nothing until released; after 20 s it gives up so that a failing test ends.
      wokeByItself_ =
          released_.get_future().wait_for(std::chrono::seconds(20)) == std::future_status::timeout;
      DestroyWindow(window_);
    });
    created_.get_future().wait();
  }
  ~UnansweringWindow() {
    Release();
    thread_.join();
  }
  void Release() {
    if (!releasedOnce_.exchange(true))
      released_.set_value();
  }
  bool wokeByItself() const { return wokeByItself_.load(); }

 private:
  std::thread thread_;
  HWND window_ = nullptr;
  std::promise<void> created_, released_;
  std::atomic<bool> releasedOnce_{false};
  std::atomic<bool> wokeByItself_{false};
};

TEST_F(PlayIntoHostWindow, AWindowThatDoesNotAnswerDoesNotStopPlay) {
  UnansweringWindow busy;  // above the host's window, so it is looked at first
  EXPECT_EQ(Dispatch(0), 0);
  EXPECT_TRUE(PumpUntil([&] { return SpacePairs() >= 1; }, 30000));
  EXPECT_FALSE(busy.wokeByItself()) << "play waited for the unanswering window";
  busy.Release();
}

}  // namespace
}  // namespace Sorvane::test
