#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "diag/log.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "ui/control_text_win.h"
#include "ui/pairing_dialog_win.h"
#include "ui/window_screenshot_win.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;

HWND WaitForWindow(const Win32PairingDialog& dialog) {
  for (int i = 0; i < 500; ++i) {
    if (HWND window = dialog.Window())
      return window;
    std::this_thread::sleep_for(10ms);
  }
  return nullptr;
}

std::wstring ControlText(HWND window, int id) {
  wchar_t text[256] = {};
  GetWindowTextW(GetDlgItem(window, id), text, 256);
  return text;
}

bool Eventually(const std::function<bool()>& done, std::chrono::steady_clock::duration limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done())
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

TEST(Win32PairingDialog, ShowsTheCodeAndCancelsOnce) {
  Win32PairingDialog dialog;
  std::atomic<int> cancels{0};
  dialog.Show("012345", "Zo\xC3\xAB", [&] { ++cancels; });
  HWND window = WaitForWindow(dialog);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(FindWindowW(L"Sorvane.PairingDialog", L"Sorvane \u2014 Pair iPhone"), window);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"Sorvane.PairingDialog");
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Sorvane \u2014 Pair iPhone");
  EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(ControlText(window, 1001), L"Enter this code on Zo\u00EB:");
  EXPECT_EQ(ControlText(window, 1002), L"0 1 2 3 4 5");
  EXPECT_EQ(ControlText(window, 1003), L"This window closes automatically when pairing completes.");
  EXPECT_EQ(ControlText(window, 1004), L"Cancel");
  PostMessageW(GetDlgItem(window, 1004), BM_CLICK, 0, 0);
  EXPECT_TRUE(Eventually([&] { return cancels.load() == 1; }));
  EXPECT_TRUE(Eventually([&] { return dialog.Window() == nullptr; }));
  dialog.Close();
  EXPECT_EQ(cancels.load(), 1) << "called once";
}

TEST(Win32PairingDialog, TheCloseBoxCancelsLikeTheButtonAndASecondShowIsIgnored) {
  Win32PairingDialog dialog;
  std::atomic<int> cancels{0};
  dialog.Show("654321", "", [&] { ++cancels; });
  HWND window = WaitForWindow(dialog);
  ASSERT_NE(window, nullptr);
  dialog.Show("111111", "other", [&] { cancels += 100; });
  EXPECT_EQ(ControlText(window, 1002), L"6 5 4 3 2 1");
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Eventually([&] { return dialog.Window() == nullptr; }));
  EXPECT_TRUE(Eventually([&] { return cancels.load() == 1; }));
  EXPECT_EQ(cancels.load(), 1);
}

TEST(Win32PairingDialog, CloseFromTheProgramCallsNothing) {
  std::atomic<int> cancels{0};
  for (int round = 0; round < 2; ++round) {  // two dialogs in a row share one window class
    auto dialog = std::make_unique<Win32PairingDialog>();
    dialog->Show("123456", "", [&] { ++cancels; });
    HWND window = WaitForWindow(*dialog);
    ASSERT_NE(window, nullptr) << round;
    EXPECT_EQ(ControlText(window, 1001), L"Enter this code on iPhone:");
    dialog->Close();
    dialog->Close();
    dialog.reset();
  }
  EXPECT_EQ(cancels.load(), 0);
  const std::string log = test::TestLog();
  EXPECT_EQ(log.find("RegisterClassW failed"), std::string::npos);
}

// The module's unload closes what is still on screen, as the program's Close does.
TEST(Win32PairingDialog, AnUnloadClosesTheOpenDialogsWithoutACancel) {
  std::atomic<int> cancels{0};
  Win32PairingDialog first, second;
  first.Show("111111", "one", [&] { ++cancels; });
  second.Show("222222", "two", [&] { ++cancels; });
  ASSERT_NE(WaitForWindow(first), nullptr);
  ASSERT_NE(WaitForWindow(second), nullptr);
  CloseOpenPairingDialogs();
  EXPECT_TRUE(Eventually([&] { return !first.Window() && !second.Window(); }));
  EXPECT_EQ(cancels.load(), 0);
}

// The cancel callback runs on the dialog's own thread: what it throws must end that thread
// only, with one line in the log.
TEST(Win32PairingDialog, ACancelCallbackThatThrowsEndsOnlyTheDialogThread) {
  Win32PairingDialog dialog;
  dialog.Show("333333", "", [] { throw std::runtime_error("the cancel callback threw"); });
  HWND window = WaitForWindow(dialog);
  ASSERT_NE(window, nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(Eventually([&] {
    return test::Count(test::TestLog(),
                       ":pair_dialog:FAULT] pairing dialog: exception stopped in the thread (the "
                       "cancel callback threw)") == 1;
  })) << test::TestLog();
}

TEST(Win32PairingDialog, ACloseRightAfterShowEndsPromptly) {
  std::atomic<int> cancels{0};
  std::atomic<bool> ended{false};
  std::thread caller([&] {
    {
      Win32PairingDialog dialog;
      dialog.Show("000000", "x", [&] { ++cancels; });
      dialog.Close();  // before the window exists
    }
    ended = true;
  });
  const bool prompt = Eventually([&] { return ended.load(); });
  if (!prompt) {
    ADD_FAILURE() << "the dialog stayed open after Close";
    // Let the stuck destructor finish so the program can end.
    while (!ended.load()) {
      if (HWND window = FindWindowW(L"Sorvane.PairingDialog", nullptr))
        PostMessageW(window, WM_CLOSE, 0, 0);
      std::this_thread::sleep_for(50ms);
    }
  }
  caller.join();
  EXPECT_EQ(cancels.load(), 0);
}

// Where the dialog's font is missing (as under Wine) the substitute is wider; no line may lose its
// end or the glyphs it is written in.
TEST(Win32PairingDialog, EveryLineFitsItsControlInTheFontItIsDrawnWith) {
  Win32PairingDialog dialog;
  dialog.Show("482913", "Studio iPhone", [] {});
  HWND window = WaitForWindow(dialog);
  ASSERT_NE(window, nullptr);
  for (int id : {1001, 1002, 1003}) {
    HWND control = GetDlgItem(window, id);
    RECT client;
    GetClientRect(control, &client);
    EXPECT_LE(test::TextWidthIn(control), client.right) << test::TextOf(control).c_str();
    EXPECT_EQ(test::MissingGlyphs(control), L"") << id;
  }
  const test::Screenshot shown = test::TakeWindowScreenshot(window, L"pairing-dialog.png");
  ASSERT_FALSE(shown.Blank());
  const RECT codeArea = test::RectInScreenshot(GetDlgItem(window, 1002), window);
  const RECT hintArea = test::RectInScreenshot(GetDlgItem(window, 1003), window);
  dialog.Close();

  // Another code for the same phone: on screen only the code changes.
  Win32PairingDialog other;
  other.Show("107356", "Studio iPhone", [] {});
  HWND otherWindow = WaitForWindow(other);
  ASSERT_NE(otherWindow, nullptr);
  const test::Screenshot otherShown =
      test::TakeWindowScreenshot(otherWindow, L"pairing-dialog-other-code.png");
  other.Close();
  ASSERT_FALSE(otherShown.Blank());
  EXPECT_GT(shown.DifferingPixels(otherShown, codeArea), 50) << "the code is drawn from the code";
  EXPECT_EQ(shown.DifferingPixels(otherShown, hintArea), 0);
}

}  // namespace
}  // namespace Sorvane
