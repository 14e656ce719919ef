#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/transmit_entry.h"
#include "store/install_identity.h"
#include "store/trusted_peers.h"
#include "support/plugin_log.h"
#include "ui/control_text_win.h"
#include "ui/gdi_ledger_win.h"
#include "ui/setup_dialog.h"
#include "ui/window_screenshot_win.h"

namespace Sorvane {
namespace {

using namespace std::chrono_literals;

bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done())
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

HWND FindDialog() {
  return FindWindowW(L"Sorvane.SetupDialog", L"Sorvane");
}

// The window is shown once every control exists.
HWND FindShownDialog() {
  HWND window = FindDialog();
  return window && IsWindowVisible(window) ? window : nullptr;
}

int CountDialogs() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM counter) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) == L"Sorvane.SetupDialog")
          ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

std::wstring TextOf(HWND window, int id) {
  wchar_t text[512] = {};
  GetWindowTextW(GetDlgItem(window, id), text, 512);
  return text;
}

int ClientHeight(HWND window) {
  RECT rect;
  GetClientRect(window, &rect);
  return rect.bottom;
}

HWND OpenDialog() {
  ShowSetupDialog();
  HWND window = nullptr;
  Eventually([&] { return (window = FindShownDialog()) != nullptr; });
  return window;
}

class SetupDialogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseSetupDialog();
    EXPECT_EQ(FindDialog(), nullptr);
  }
};

TEST_F(SetupDialogTest, OpensFromTheHostEntryOnceAndASecondOpenRestoresIt) {
  sdk::tmModule module = {};
  ASSERT_EQ(TransmitEntry(sdk::tmInterfaceVersion4, 1, nullptr, &module), sdk::tmResult_Success);
  ASSERT_NE(module.SetupDialog, nullptr);
  EXPECT_EQ(module.SetupDialog(nullptr, nullptr), sdk::tmResult_Success);
  HWND window = nullptr;
  ASSERT_TRUE(Eventually([&] { return (window = FindShownDialog()) != nullptr; }));
  EXPECT_EQ(ClientHeight(window), 594);
  const InstallIdentity identity = installid::LoadOrCreate();
  EXPECT_EQ(TextOf(window, 2204),
            L"Instance ID: " + std::wstring(identity.id.begin(), identity.id.end()));
  EXPECT_NE(SendDlgItemMessageW(window, 2205, STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "QR image";
  EXPECT_NE(TextOf(window, 2206).find(L"next time the plug-in loads"), std::wstring::npos)
      << "the switches say when they take effect";
  EXPECT_TRUE(Eventually([&] { return TextOf(window, 2201) == L"Transmit disabled"; }));
  EXPECT_TRUE(test::SaveWindowScreenshot(window, L"setup-dialog.png"));

  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(Eventually([&] { return IsIconic(window) != FALSE; }));
  EXPECT_EQ(module.SetupDialog(nullptr, nullptr), sdk::tmResult_Success);
  EXPECT_TRUE(Eventually([&] { return !IsIconic(window); })) << "restored";
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(CountDialogs(), 1);
  EXPECT_EQ(FindDialog(), window);

  EXPECT_EQ(module.Shutdown(nullptr), sdk::tmResult_Success);
  EXPECT_EQ(FindDialog(), nullptr) << "shutdown closes the dialog and waits for its thread";

  // A host that unloads without Shutdown still takes the dialog down.
  EXPECT_EQ(module.SetupDialog(nullptr, nullptr), sdk::tmResult_Success);
  ASSERT_TRUE(Eventually([&] { return FindShownDialog() != nullptr; }));
  EXPECT_EQ(TransmitEntry(sdk::tmInterfaceVersion4, 0, nullptr, nullptr), sdk::tmResult_Success);
  EXPECT_EQ(FindDialog(), nullptr) << "the unload closes the dialog and waits for its thread";
}

TEST_F(SetupDialogTest, AnOpenWhileTheFirstIsStillStartingReturnsAtOnce) {
  std::atomic<int> returned{0};
  std::thread host([&] {
    for (int i = 0; i < 3; ++i) {
      ShowSetupDialog();
      ++returned;
    }
  });
  // Had a call waited for the first dialog's thread, it would not return until the dialog closed.
  const bool allReturned = Eventually([&] { return returned.load() == 3; });
  EXPECT_TRUE(allReturned);
  EXPECT_TRUE(Eventually([&] { return FindShownDialog() != nullptr; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(CountDialogs(), 1);
  if (!allReturned)
    CloseSetupDialog();  // frees a blocked caller so the program can end
  host.join();
}

TEST_F(SetupDialogTest, AClassLeftByAnEarlierLoadOfTheModuleIsReplaced) {
  // What an unloaded copy of the module leaves behind: the class, pointing at other code.
  UnregisterClassW(L"Sorvane.SetupDialog", GetModuleHandleW(nullptr));
  WNDCLASSW stale = {};
  stale.lpfnWndProc = DefWindowProcW;
  stale.hInstance = GetModuleHandleW(nullptr);
  stale.lpszClassName = L"Sorvane.SetupDialog";
  ASSERT_NE(RegisterClassW(&stale), 0);
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  SendMessageW(GetDlgItem(window, 2012), BM_CLICK, 0, 0);
  EXPECT_TRUE(Eventually([] { return FindDialog() == nullptr; })) << "Close works: our window code";
}

TEST_F(SetupDialogTest, RenameAndSwitchesReachTheInstallFile) {
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  const bool discoverable = installid::Discoverable();
  const bool async = installid::EnableAsyncHwEncoders();
  SetDlgItemTextW(window, 2003, L"Edit Bay \u00E9 2");
  SendMessageW(GetDlgItem(window, 2004), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::LoadOrCreate().name, "Edit Bay \xC3\xA9 2");
  SetDlgItemTextW(window, 2003, L"");
  SendMessageW(GetDlgItem(window, 2004), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::LoadOrCreate().name, "Edit Bay \xC3\xA9 2") << "an empty name is ignored";

  SendMessageW(GetDlgItem(window, 2008), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::Discoverable(), !discoverable);
  SendMessageW(GetDlgItem(window, 2016), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::EnableAsyncHwEncoders(), !async);
  SendMessageW(GetDlgItem(window, 2008), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::Discoverable(), discoverable);
  SendMessageW(GetDlgItem(window, 2016), BM_CLICK, 0, 0);
  EXPECT_EQ(installid::EnableAsyncHwEncoders(), async);
  EXPECT_EQ(installid::LoadOrCreate().name, "Edit Bay \xC3\xA9 2") << "the switches keep the name";
}

// Presses OK on the confirmation box once it shows.
void ConfirmForgetBox() {
  HWND box = nullptr;
  Eventually([&] { return (box = FindWindowW(L"#32770", L"Forget paired iPhone")) != nullptr; });
  if (box)
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// A row's Forget button: after its name and its "paired" line.
HWND ForgetButtonOf(HWND name) {
  return GetWindow(GetWindow(name, GW_HWNDNEXT), GW_HWNDNEXT);
}

// Clicks Forget through `receiver` (the dialog, or the pane holding the rows) and confirms.
void ForgetAndConfirm(HWND receiver, HWND forget) {
  std::thread confirm(ConfirmForgetBox);
  PostMessageW(receiver, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(forget), BN_CLICKED),
               reinterpret_cast<LPARAM>(forget));
  confirm.join();
}

HWND ChildWithText(HWND window, const std::wstring& text) {
  for (HWND child : test::Descendants(window))
    if (test::TextOf(child) == text)
      return child;
  return nullptr;
}

// Other test programs may share the trusted list, so rows are found by their names. The middle
// phone's id, as a phone sent it, would start a forged log line if it went to the log unescaped.
TEST_F(SetupDialogTest, ForgetRemovesTheMiddlePhoneFromFileAndWindow) {
  const std::string middle = "phone-b\r\n[2026-12-01 10:00:00.000 com.sorvane.plugin:main:INFO] x";
  for (const std::string& id : {std::string("phone-a"), middle, std::string("phone-c")})
    trusted::Upsert({id, "Name " + id.substr(0, 7), std::string(64, 'a'), "2026-12-01T10:00:00Z"});
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(Eventually([&] { return ChildWithText(window, L"Name phone-c") != nullptr; }));
  HWND name = ChildWithText(window, L"Name phone-b");
  ASSERT_NE(name, nullptr);
  HWND forget = ForgetButtonOf(name);
  ASSERT_EQ(test::TextOf(forget), L"Forget");
  ForgetAndConfirm(window, forget);
  EXPECT_TRUE(Eventually([&] { return !trusted::FindById(middle).has_value(); }));
  EXPECT_TRUE(trusted::FindById("phone-a").has_value());
  EXPECT_TRUE(trusted::FindById("phone-c").has_value());
  EXPECT_TRUE(Eventually([&] {
    return ChildWithText(window, L"Name phone-b") == nullptr &&
           ChildWithText(window, L"Name phone-a") != nullptr &&
           ChildWithText(window, L"Name phone-c") != nullptr;
  })) << "the row went, the others stayed";
  const std::string log = test::TestLog();
  EXPECT_NE(log.find(":setup_dialog:INFO] unpaired peer phone-b\\x0d\\x0a[2026"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("\r\n[2026-12-01 10:00:00.000"), std::string::npos) << "no forged line";
  for (const char* id : {"phone-a", "phone-c"})
    trusted::Remove(id);
  EXPECT_TRUE(Eventually([&] { return ChildWithText(window, L"Name phone-a") == nullptr; }));
}

RECT RectIn(HWND control, HWND parent) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool InsideClient(HWND control, HWND parent) {
  RECT client, rect = RectIn(control, parent);
  GetClientRect(parent, &client);
  return rect.top >= client.top && rect.bottom <= client.bottom && rect.left >= client.left &&
         rect.right <= client.right;
}

// The list's Forget buttons, first row first.
std::vector<HWND> ForgetButtons(HWND list) {
  std::vector<HWND> buttons;
  for (HWND child : test::Descendants(list))
    if (test::TextOf(child) == L"Forget")
      buttons.push_back(child);
  std::sort(buttons.begin(), buttons.end(),
            [](HWND a, HWND b) { return GetDlgCtrlID(a) < GetDlgCtrlID(b); });
  return buttons;
}

// More phones than the card has room for scroll inside it, never over what lies below.
TEST_F(SetupDialogTest, ManyTrustedPhonesScrollInsideTheirCard) {
  for (int i = 0; i < 8; ++i) {
    const std::string id = "many-" + std::to_string(i);
    trusted::Upsert({id, "Name " + id, std::string(64, 'b'), "2026-12-02T09:00:00Z"});
  }
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  HWND name = nullptr;
  ASSERT_TRUE(
      Eventually([&] { return (name = ChildWithText(window, L"Name many-7")) != nullptr; }));
  HWND list = GetParent(name);
  ASSERT_NE(list, window) << "the rows live in a pane of their own";
  const RECT pane = RectIn(list, window), card = {256, 306, 800, 466};
  EXPECT_TRUE(pane.left >= card.left && pane.top >= card.top && pane.right <= card.right &&
              pane.bottom <= card.bottom)
      << "pane " << pane.left << "," << pane.top << " to " << pane.right << "," << pane.bottom;
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(list, SB_VERT, &info));
  EXPECT_GT(info.nMax + 1, static_cast<int>(info.nPage)) << "more rows than fit: a scroll bar";

  const std::vector<HWND> forgets = ForgetButtons(list);
  ASSERT_GE(forgets.size(), 8u);
  HWND first = forgets.front(), lastForget = forgets.back();
  EXPECT_TRUE(InsideClient(first, list));
  EXPECT_FALSE(InsideClient(lastForget, list)) << "the last row starts out of sight";
  const test::Screenshot top = test::TakeWindowScreenshot(window, L"setup-dialog-many-phones.png");
  ASSERT_FALSE(top.Blank());
  SendMessageW(list, WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_TRUE(InsideClient(lastForget, list)) << "scrolled to the end, the last row shows";
  EXPECT_FALSE(InsideClient(first, list));
  const test::Screenshot bottom =
      test::TakeWindowScreenshot(window, L"setup-dialog-many-phones-scrolled.png");
  ASSERT_FALSE(bottom.Blank());
  // On screen the rows moved inside the pane, and everything above the card stayed as it was.
  const RECT paneOnScreen = test::RectInScreenshot(list, window);
  EXPECT_GT(top.DifferingPixels(bottom, paneOnScreen), 100) << "the pane shows other rows";
  const RECT above = {0, 0, top.width, paneOnScreen.top - (pane.top - card.top)};
  EXPECT_EQ(top.DifferingPixels(bottom, above), 0) << "scrolling repainted outside the card";

  // The wheel turned over the pane, with the focus elsewhere, reaches it through the dialog.
  const POINT over = {(pane.left + pane.right) / 2, (pane.top + pane.bottom) / 2};
  POINT screen = over;
  ClientToScreen(window, &screen);
  for (int notch = 0; notch < 40; ++notch)
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(screen.x, screen.y));
  EXPECT_TRUE(InsideClient(first, list)) << "wheeled back to the top";

  // A scrolled-to row's Forget still names its own phone.
  SendMessageW(list, WM_VSCROLL, SB_BOTTOM, 0);
  ForgetAndConfirm(list, ForgetButtonOf(name));
  EXPECT_TRUE(Eventually([&] { return !trusted::FindById("many-7").has_value(); }));
  EXPECT_TRUE(trusted::FindById("many-6").has_value());
  for (int i = 0; i < 7; ++i)
    trusted::Remove("many-" + std::to_string(i));
}

// Where the dialog's fonts are missing (the icon fonts before Windows 10, everything under Wine)
// no label may turn into empty boxes.
TEST_F(SetupDialogTest, EveryLabelHasGlyphsInItsFontAndThePanelTextsFit) {
  trusted::Upsert({"glyph-phone", "Glyph phone", std::string(64, 'c'), "2026-12-03T08:00:00Z"});
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(Eventually([&] { return ChildWithText(window, L"Glyph phone") != nullptr; }));
  SendMessageW(GetDlgItem(window, 2018), BM_CLICK, 0, 0);
  int checked = 0;
  for (HWND control : test::Descendants(window)) {
    if (test::TextOf(control).empty())
      continue;
    ++checked;
    EXPECT_EQ(test::MissingGlyphs(control), L"")
        << "in \"" << test::TextOf(control).c_str() << "\"";
  }
  EXPECT_GT(checked, 40);
  // The advanced panel's fixed texts fit their places (the interface list may be long anywhere).
  for (HWND control : test::Descendants(window)) {
    if (GetWindowLongPtrW(control, GWLP_USERDATA) != 42 || GetDlgCtrlID(control) == 2111)
      continue;
    RECT client;
    GetClientRect(control, &client);
    EXPECT_LE(test::TextWidthIn(control), client.right) << test::TextOf(control).c_str();
  }
  trusted::Remove("glyph-phone");
}

TEST_F(SetupDialogTest, TheExpanderShowsTheStatusRowsAndChangesTheHeight) {
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, 2101)));
  SendMessageW(GetDlgItem(window, 2018), BM_CLICK, 0, 0);
  EXPECT_EQ(ClientHeight(window), 1066);
  EXPECT_EQ(TextOf(window, 2018), L"\u25BC  Advanced info");
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(window, 2101)));
  EXPECT_TRUE(Eventually([&] { return TextOf(window, 2115) == L"n/a (v1)"; }));
  EXPECT_EQ(TextOf(window, 2112), L"47100 control \u00B7 47101 video \u00B7 47102 audio");
  EXPECT_TRUE(test::SaveWindowScreenshot(window, L"setup-dialog-advanced.png"));
  SendMessageW(GetDlgItem(window, 2018), BM_CLICK, 0, 0);
  EXPECT_EQ(ClientHeight(window), 594);
  EXPECT_EQ(TextOf(window, 2018), L"\u25B6  Advanced info");
}

TEST_F(SetupDialogTest, ClosingDeletesItsFontsBrushesAndQrImage) {
  HWND window = OpenDialog();
  ASSERT_NE(window, nullptr);
  std::vector<HGDIOBJ> objects;
  for (int id : {2001, 2002, 2003, 2201, 2202, 2101})
    objects.push_back(reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(window, id, WM_GETFONT, 0, 0)));
  objects.push_back(
      reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(window, 2205, STM_GETIMAGE, IMAGE_BITMAP, 0)));
  HDC dc = CreateCompatibleDC(nullptr);
  const auto brushFor = [&](UINT message, int id) {
    return reinterpret_cast<HGDIOBJ>(
        SendMessageW(window, message, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, id))));
  };
  objects.push_back(brushFor(WM_CTLCOLOREDIT, 2003));
  objects.push_back(brushFor(WM_CTLCOLORSTATIC, 2201));
  objects.push_back(brushFor(WM_CTLCOLORSTATIC, 2001));
  for (HGDIOBJ object : objects) {
    ASSERT_NE(object, nullptr);
    EXPECT_NE(GetObjectType(object), 0u);
  }
  CloseSetupDialog();
  for (HGDIOBJ object : objects)
    EXPECT_EQ(GetObjectType(object), 0u) << "left behind: type " << GetObjectType(object);
  DeleteDC(dc);
}

TEST_F(SetupDialogTest, OpeningAndClosingManyTimesLeavesNoGdiObjects) {
  test::InstallGdiLedger();
  // Warm up the once-per-process costs (class, fonts cache, GDI+).
  ASSERT_NE(OpenDialog(), nullptr);
  CloseSetupDialog();
  const long before = test::LiveGdiObjects();
  ASSERT_NE(OpenDialog(), nullptr);
  ASSERT_GT(test::LiveGdiObjects(), before) << "the ledger sees the open dialog's fonts and brushes";
  CloseSetupDialog();
  for (int i = 0; i < 50; ++i) {
    ASSERT_NE(OpenDialog(), nullptr) << i;
    CloseSetupDialog();
  }
  EXPECT_EQ(test::LiveGdiObjects(), before);
}

}  // namespace
}  // namespace Sorvane
