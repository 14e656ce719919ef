#include "ui/setup_window_win.h"

#include <commctrl.h>
#include <dwmapi.h>

#include <algorithm>

#include "diag/log.h"
#include "diag/log_channels.h"
#include "diag/log_text.h"
#include "diag/thread_guard.h"
#include "net/shared_transport.h"
#include "ui/fitting_font_win.h"
#include "ui/icon_glyphs.h"
#include "ui/pairing_url.h"
#include "ui/qr_bitmap_win.h"
#include "ui/setup_status_text.h"
#include "ui/wide_text.h"

namespace Sorvane::setupui {
namespace {

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr wchar_t kCollapsedLabel[] = L"\u25B6  Advanced info";
constexpr wchar_t kExpandedLabel[] = L"\u25BC  Advanced info";
constexpr int kQrEdge = 200;

HFONT MakeFont(int height, int weight, const wchar_t* face) {
  return CreateSpecFont({height, weight, DEFAULT_PITCH | FF_SWISS, face});
}

Fonts MakeFonts() {
  Fonts fonts = {MakeFont(-22, 600, L"Segoe UI"),
                 MakeFont(-13, 400, L"Segoe UI"),
                 MakeFont(-11, 600, L"Segoe UI"),
                 MakeFont(-14, 400, L"Segoe UI"),
                 MakeFont(-14, 600, L"Segoe UI"),
                 CreateSpecFont(kLabelFont),
                 CreateSpecFont(kMonoFont),
                 MakeFont(-11, 400, L"Segoe UI"),
                 CreateIconFont(-14),
                 {}};
  for (int i = 0; i < kMonoSteps; ++i) {
    FontSpec smaller = kMonoFont;
    smaller.height += i + 1;
    fonts.monoSteps[i] = CreateSpecFont(smaller);
  }
  return fonts;
}

void DeleteFonts(SetupDialogState& s) {
  Fonts& f = s.fonts;
  for (HFONT font : {f.title, f.subtitle, f.section, f.body, f.bodyBold, f.label, f.mono, f.small})
    if (font)
      DeleteObject(font);
  DeleteIconFont(f.icons);
  for (HFONT font : f.monoSteps)
    if (font)
      DeleteObject(font);
  for (HFONT font : s.fittedFonts)
    DeleteObject(font);
  s.fittedFonts.clear();
  f = {};
}

int WindowHeightForClient(int clientHeight) {
  RECT rect = {0, 0, kClientWidth, clientHeight};
  AdjustWindowRectEx(&rect, kWindowStyle, FALSE, 0);
  return rect.bottom - rect.top;
}

void CreateHeaderAndQr(SetupDialogState& s) {
  const Fonts& f = s.fonts;
  AddControl(s, L"STATIC", L"Sorvane", 0, Box(20, 20, 780, 30), kTitleId, f.title, kRolePlain);
  AddControl(s, L"STATIC", L"Scan the QR code with the Sorvane iOS app to connect.", 0,
             Box(20, 54, 780, 20), kSubtitleId, f.subtitle, kRolePlain);
  AddControl(s, L"STATIC", L"", SS_BITMAP | SS_REALSIZEIMAGE, Box(32, 94, 200, 200), kQrImageId,
             nullptr, kRolePlain);
}

void CreateDeviceCard(SetupDialogState& s) {
  const Fonts& f = s.fonts;
  AddControl(s, L"STATIC", L"DEVICE", 0, Box(270, 96, 516, 18), 0, f.section, kRoleSection);
  AddControl(s, L"STATIC", L"", 0, Box(270, 118, 14, 14), kStatusDotId, nullptr, 0);
  AddControl(s, L"STATIC", L"Idle", SS_ENDELLIPSIS, Box(288, 116, 498, 18), kStatusTextId, f.body,
             kRoleValue);
  AddIconControl(s, s.window, icons::kName, Box(270, 150, 18, 18));
  AddControl(s, L"STATIC", L"Name", 0, Box(292, 150, 70, 18), 0, f.label, kRoleValue);
  AddControl(s, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, Box(362, 146, 342, 26), kNameBoxId,
             f.body, kRolePlain);
  AddControl(s, L"BUTTON", L"Save", WS_TABSTOP | BS_OWNERDRAW, Box(708, 146, 78, 26), kSaveId,
             f.body, kRolePlain);
  AddControl(s, L"BUTTON", L"Discoverable on network", WS_TABSTOP | BS_AUTOCHECKBOX,
             Box(270, 178, 516, 28), kDiscoverableId, f.body, kRolePlain);
  AddControl(s, L"BUTTON", L"Use NVIDIA / Intel HW HEVC encoder", WS_TABSTOP | BS_AUTOCHECKBOX,
             Box(270, 210, 516, 28), kAsyncEncoderId, f.body, kRolePlain);
  AddControl(s, L"STATIC", L"Active encoder: \u2014", 0, Box(270, 242, 516, 36), kActiveEncoderId,
             f.small, kRolePlain);
  // The transport and the encoder read both switches only when they start.
  AddControl(s, L"STATIC",
             L"Discovery and encoder changes take effect the next time the plug-in loads.",
             SS_ENDELLIPSIS, Box(270, 278, 516, 14), kNextLoadNoteId, f.small, kRolePlain);
}

void CreateLowerControls(SetupDialogState& s) {
  const Fonts& f = s.fonts;
  AddControl(s, L"STATIC", L"TRUSTED IPHONES", 0, Box(270, 320, 516, 18), 0, f.section,
             kRoleSection);
  CreateTrustedList(s);
  AddControl(s, L"STATIC", L"", SS_ENDELLIPSIS, Box(20, 478, 780, 16), kInstanceIdId, f.small,
             kRolePlain);
  AddControl(s, L"BUTTON", kCollapsedLabel, WS_TABSTOP | BS_OWNERDRAW, Box(20, 502, 180, 28),
             kAdvancedId, f.body, kRolePlain);
  AddControl(s, L"BUTTON", L"Close", WS_TABSTOP | BS_OWNERDRAW, Box(700, 502, 100, 28), kCloseId,
             f.body, kRolePlain);
  s.footer = AddControl(s, L"STATIC",
                        L"Streaming starts automatically when you play back in Premiere.\n"
                        L"Enable or disable this device from Preferences \u2192 Playback \u2192 "
                        L"Video Device.",
                        0, Box(20, kAdvancedTop, 780, 36), 0, f.small, kRoleFooter);
}

void RecordCards(SetupDialogState& s) {
  s.cards = {{Box(20, 82, 224, 224), RGB(255, 255, 255), true},
             {Box(256, 82, 544, 212), kCardColour, true},
             {kTrustedCard, kCardColour, true},
             {Box(20, kAdvancedTop, 384, 460), kCardColour, true},
             {Box(416, kAdvancedTop, 384, 460), kCardColour, true}};
}

void UpdateQrImage(SetupDialogState& s) {
  const std::string url = BuildPairingUrl(s.identity);
  s.qr = QrEncodeText(url);
  if (s.qr.size == 0) {
    Log(channels::kSetupDialog, kLogInfo, "QR: failed to encode payload (len=%zu)", url.size());
    return;
  }
  HBITMAP bitmap = RenderQrToBitmap(s.qr, kQrEdge);
  if (bitmap == nullptr) {
    Log(channels::kSetupDialog, kLogInfo, "QR: RenderQrToBitmap failed");
    return;
  }
  SetStaticImage(GetDlgItem(s.window, kQrImageId), bitmap);
}

void SaveName(SetupDialogState& s) {
  wchar_t text[256] = {};
  GetWindowTextW(GetDlgItem(s.window, kNameBoxId), text, 256);
  const std::string name = ToUtf8(text);
  if (name.empty())
    return;
  installid::SetName(name);
  Log(channels::kSetupDialog, kLogInfo, "display name updated to %{public}s", name.c_str());
  RefreshStaticInfo(s);
}

void OnToggle(SetupDialogState& s, int id) {
  HWND toggle = GetDlgItem(s.window, id);
  const bool checked = SendMessageW(toggle, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (id == kDiscoverableId) {
    installid::SetDiscoverable(checked);
    Log(channels::kSetupDialog, kLogInfo, "discoverable toggled -> %d", checked ? 1 : 0);
  } else {
    installid::SetEnableAsyncHwEncoders(checked);
    Log(channels::kSetupDialog, kLogInfo, "enableAsyncHwEncoders toggled -> %d", checked ? 1 : 0);
  }
  InvalidateRect(toggle, nullptr, TRUE);
}

void OnForget(SetupDialogState& s, int id) {
  const size_t index = static_cast<size_t>(id - kFirstForgetId) / 10;
  if (index >= s.trustedRows.size())
    return;
  // The box runs a message loop whose timer ticks may rebuild the rows: keep our own copy.
  const std::string peerId = s.trustedRows[index].peerId;
  const int answer = MessageBoxW(s.window,
                                 L"The iPhone will need to re-pair (scan QR / enter code) the next "
                                 L"time it connects.\n\nForget this iPhone?",
                                 L"Forget paired iPhone", MB_OKCANCEL | MB_ICONQUESTION);
  if (answer != IDOK || !IsWindow(s.window))
    return;
  trusted::Remove(peerId);
  Log(channels::kSetupDialog, kLogInfo, "unpaired peer %{public}s", LogSafeText(peerId).c_str());
  s.trustedSignature.clear();
  RebuildTrustedList(s);
  InvalidateRect(s.window, nullptr, TRUE);
}

void OnCommand(SetupDialogState& s, int id, int code) {
  if (id == kCloseId) {
    PostMessageW(s.window, WM_CLOSE, 0, 0);
  } else if (code != BN_CLICKED) {
    return;
  } else if (id == kAdvancedId) {
    s.advanced = !s.advanced;
    SetWindowTextW(GetDlgItem(s.window, kAdvancedId),
                   s.advanced ? kExpandedLabel : kCollapsedLabel);
    SetAdvancedVisible(s, s.advanced);
  } else if (id == kSaveId) {
    SaveName(s);
  } else if (id == kDiscoverableId || id == kAsyncEncoderId) {
    OnToggle(s, id);
  } else if (id >= kFirstForgetId && id <= kLastForgetId) {
    OnForget(s, id);
  }
}

void OnDestroy(SetupDialogState& s) {
  KillTimer(s.window, 1);
  HWND qr = GetDlgItem(s.window, kQrImageId);
  if (auto old = reinterpret_cast<HBITMAP>(SendMessageW(qr, STM_SETIMAGE, IMAGE_BITMAP, 0)))
    DeleteObject(old);
  DeleteFonts(s);
  for (HBRUSH* brush : {&s.backgroundBrush, &s.cardBrush, &s.editBrush}) {
    if (*brush)
      DeleteObject(*brush);
    *brush = nullptr;
  }
  PostQuitMessage(0);
}

// Statics fill their rectangle with the brush returned, so those outside the cards get the
// window's own colour rather than a card-coloured band.
bool LiesOnWindowBackground(HWND control) {
  const int id = GetDlgCtrlID(control);
  return id == kTitleId || id == kSubtitleId || id == kInstanceIdId ||
         GetWindowLongPtrW(control, GWLP_USERDATA) == kRoleFooter;
}

LRESULT ColourStatic(SetupDialogState& s, HDC dc, HWND control) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, StaticTextColour(control));
  return reinterpret_cast<LRESULT>(LiesOnWindowBackground(control) ? s.backgroundBrush
                                                                   : s.cardBrush);
}

void PaintWindow(SetupDialogState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(s.window, &ps);
  PaintCards(s, dc);
  EndPaint(s.window, &ps);
}

}  // namespace

HWND AddControl(SetupDialogState& state, const wchar_t* className, const std::wstring& text,
                DWORD style, RECT rect, int id, HFONT font, LONG_PTR role) {
  return AddChildControl(state.window, className, text, style, rect, id, font, role);
}

HWND AddChildControl(HWND parent, const wchar_t* className, const std::wstring& text, DWORD style,
                     RECT rect, int id, HFONT font, LONG_PTR role) {
  HWND control = CreateWindowExW(
      0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (control == nullptr)
    return nullptr;
  if (font)
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SetWindowLongPtrW(control, GWLP_USERDATA, role);
  return control;
}

HWND AddIconControl(const SetupDialogState& state, HWND parent, wchar_t glyph, RECT rect) {
  const IconGlyph icon = IconFor(state.fonts.icons, glyph);
  return AddChildControl(parent, L"STATIC", icon.text, 0, rect, 0, icon.font, kRoleIcon);
}

bool SetTextIfChanged(HWND control, const std::wstring& text) {
  wchar_t current[513] = {};
  GetWindowTextW(control, current, 513);
  if (text == current)
    return false;
  SetWindowTextW(control, text.c_str());
  return true;
}

bool CreateSetupWindow(SetupDialogState& s) {
  const int left = (GetSystemMetrics(SM_CXSCREEN) - 820) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - 780) / 2;
  s.window = CreateWindowExW(0, L"Sorvane.SetupDialog", L"Sorvane", kWindowStyle, left, top, 820,
                             780, nullptr, nullptr, GetModuleHandleW(nullptr), &s);
  if (s.window == nullptr)
    return false;
  BOOL dark = TRUE;
  DwmSetWindowAttribute(s.window, 20, &dark, sizeof dark);
  s.fonts = MakeFonts();
  s.backgroundBrush = CreateSolidBrush(kBackground);
  s.cardBrush = CreateSolidBrush(kCardColour);
  s.editBrush = CreateSolidBrush(kEditColour);
  CreateHeaderAndQr(s);
  CreateDeviceCard(s);
  CreateLowerControls(s);
  RecordCards(s);
  InstallCustomPainting(s, GetDlgItem(s.window, kStatusDotId),
                        GetDlgItem(s.window, kDiscoverableId),
                        GetDlgItem(s.window, kAsyncEncoderId));
  CreateStatusRows(s);
  s.collapsedFooterY = kAdvancedTop;
  s.expandedFooterY = kExpandedFooterY;
  s.collapsedWindowHeight = WindowHeightForClient(kAdvancedTop + 56);
  s.expandedWindowHeight = WindowHeightForClient(kExpandedFooterY + 56);
  SetAdvancedVisible(s, false);
  RefreshStaticInfo(s);
  RebuildTrustedList(s);
  RefreshStatus(s);
  SetTimer(s.window, 1, 500, nullptr);
  ShowWindow(s.window, SW_SHOW);
  UpdateWindow(s.window);
  return true;
}

void RefreshStaticInfo(SetupDialogState& s) {
  s.identity = installid::LoadOrCreate();
  for (const StatusRowValue& row : NetworkRowValues(
           EnumerateIPv4Interfaces(), SharedTransport::Instance().Network().ControlPort()))
    SetRowValue(s, row.id, ToWide(row.text));
  SetWindowTextW(GetDlgItem(s.window, kNameBoxId), ToWide(s.identity.name).c_str());
  SetTextIfChanged(GetDlgItem(s.window, kInstanceIdId), ToWide("Instance ID: " + s.identity.id));
  SendMessageW(GetDlgItem(s.window, kDiscoverableId), BM_SETCHECK,
               installid::Discoverable() ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(GetDlgItem(s.window, kAsyncEncoderId), BM_SETCHECK,
               installid::EnableAsyncHwEncoders() ? BST_CHECKED : BST_UNCHECKED, 0);
  UpdateQrImage(s);
}

void SetAdvancedVisible(SetupDialogState& s, bool expanded) {
  const int show = expanded ? SW_SHOW : SW_HIDE;
  for (const auto& [id, value] : s.rowValues)
    ShowWindow(value, show);
  for (HWND child = GetWindow(s.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (GetWindowLongPtrW(child, GWLP_USERDATA) == kRoleAdvanced)
      ShowWindow(child, show);
  for (int i = 0; i < 2; ++i) {
    RECT& card = s.cards[3 + i].rect;
    if (!expanded && !IsRectEmpty(&card)) {
      s.savedAdvancedCards[i] = card;
      SetRectEmpty(&card);
    } else if (expanded && IsRectEmpty(&card)) {
      card = s.savedAdvancedCards[i];
    }
  }
  SetWindowPos(s.footer, nullptr, 20, expanded ? s.expandedFooterY : s.collapsedFooterY, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame;
  GetWindowRect(s.window, &frame);
  SetWindowPos(s.window, nullptr, 0, 0, frame.right - frame.left,
               expanded ? s.expandedWindowHeight : s.collapsedWindowHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(s.window, nullptr, TRUE);
}

namespace {

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* s = reinterpret_cast<SetupDialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (s == nullptr)
    return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      if (wParam == 1) {
        RefreshStatus(*s);
        RebuildTrustedList(*s);
      }
      return 0;
    case WM_COMMAND:
      OnCommand(*s, LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_DRAWITEM:
      DrawButton(*s, *reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLOREDIT:
      SetBkMode(reinterpret_cast<HDC>(wParam), OPAQUE);
      SetBkColor(reinterpret_cast<HDC>(wParam), kEditColour);
      SetTextColor(reinterpret_cast<HDC>(wParam), kPrimaryText);
      return reinterpret_cast<LRESULT>(s->editBrush);
    case WM_CTLCOLORBTN:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(wParam), kPrimaryText);
      return reinterpret_cast<LRESULT>(s->cardBrush);
    case WM_CTLCOLORSTATIC:
      return ColourStatic(*s, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_PAINT:
      PaintWindow(*s);
      return 0;
    case WM_PRINTCLIENT:
      PaintCards(*s, reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_GETMINMAXINFO:
      // The expanded dialog may be taller than a small screen; never squeeze its layout.
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize.y = std::max<LONG>(
          reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize.y, s->expandedWindowHeight);
      return 0;
    case WM_MOUSEWHEEL:
      if (!ForwardWheelToTrustedList(*s, wParam, lParam))
        return DefWindowProcW(window, message, wParam, lParam);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      OnDestroy(*s);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

// An exception must not cross the system's message dispatch (it would end the host): the
// dialog closes instead, and its thread ends.
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static ThreadGuard guard(channels::kSetupDialog, "setup dialog window");
  LRESULT result = 0;
  if (!guard.Run([&] { result = HandleMessage(window, message, wParam, lParam); })) {
    PostQuitMessage(0);
    if (message != WM_DESTROY)
      DestroyWindow(window);
  }
  return result;
}

}  // namespace Sorvane::setupui
