#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <algorithm>

#include "ui/icon_glyphs.h"
#include "ui/setup_window_win.h"
#include "ui/wide_text.h"

namespace Sorvane::setupui {
namespace {

// The card shows three rows; more scroll inside it rather than spill over what lies below.
constexpr int kRowHeight = 40;
constexpr int kVisibleRows = 3;
constexpr int kMaxTrustedRows = 30;
constexpr int kListX = kTrustedCard.left + 14;
constexpr int kListY = kTrustedCard.top + 38;
constexpr int kListWidth = (kTrustedCard.right - kTrustedCard.left) - 28;
constexpr int kListHeight = kRowHeight * kVisibleRows;
static_assert(kListY + kListHeight <= kTrustedCard.bottom, "the rows stay inside the card");

int ContentHeight(const SetupDialogState& s) {
  return static_cast<int>(s.trustedRows.size()) * kRowHeight;
}

int MaxScrollFor(size_t rows) {
  return std::max(0, static_cast<int>(rows) * kRowHeight - kListHeight);
}

int MaxScroll(const SetupDialogState& s) {
  return MaxScrollFor(s.trustedRows.size());
}

void UpdateScrollBar(const SetupDialogState& s) {
  SCROLLINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = std::max(0, ContentHeight(s) - 1);
  info.nPage = kListHeight;
  info.nPos = s.trustedScroll;
  SetScrollInfo(s.trustedList, SB_VERT, &info, TRUE);
  ShowScrollBar(s.trustedList, SB_VERT, ContentHeight(s) > kListHeight);
}

void ScrollTo(SetupDialogState& s, int position) {
  position = std::clamp(position, 0, MaxScroll(s));
  if (position == s.trustedScroll)
    return;
  // With no rectangle given, every row moves along, those out of sight included.
  ScrollWindow(s.trustedList, 0, s.trustedScroll - position, nullptr, nullptr);
  s.trustedScroll = position;
  UpdateScrollBar(s);
}

int TargetOf(const SetupDialogState& s, int request) {
  switch (request) {
    case SB_LINEUP:
      return s.trustedScroll - kRowHeight;
    case SB_LINEDOWN:
      return s.trustedScroll + kRowHeight;
    case SB_PAGEUP:
      return s.trustedScroll - kListHeight;
    case SB_PAGEDOWN:
      return s.trustedScroll + kListHeight;
    case SB_TOP:
      return 0;
    case SB_BOTTOM:
      return MaxScroll(s);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO info = {};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      GetScrollInfo(s.trustedList, SB_VERT, &info);
      return info.nTrackPos;
    }
  }
  return s.trustedScroll;
}

void OnWheel(SetupDialogState& s, int delta) {
  s.wheelRemainder += delta;
  const int notches = s.wheelRemainder / WHEEL_DELTA;
  s.wheelRemainder -= notches * WHEEL_DELTA;
  ScrollTo(s, s.trustedScroll - notches * kRowHeight);
}

// Tabbing onto a Forget button scrolled out of sight brings its row into view.
void RevealRowOf(SetupDialogState& s, int forgetId) {
  const int index = (forgetId - kFirstForgetId) / 10;
  const int top = index * kRowHeight;
  if (top < s.trustedScroll)
    ScrollTo(s, top);
  else if (top + kRowHeight > s.trustedScroll + kListHeight)
    ScrollTo(s, top + kRowHeight - kListHeight);
}

void PaintBackground(HWND list) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(list, &ps);
  HBRUSH brush = CreateSolidBrush(kCardColour);
  FillRect(dc, &ps.rcPaint, brush);
  DeleteObject(brush);
  EndPaint(list, &ps);
}

// The pane draws only its background; what its rows send goes to the dialog as if they were its
// own children.
LRESULT CALLBACK TrustedListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR stateRef) {
  auto& s = *reinterpret_cast<SetupDialogState*>(stateRef);
  switch (message) {
    case WM_PAINT:
      PaintBackground(list);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST:
      // A static lets the mouse through to its parent; the pane's scroll bar must get it.
      return DefWindowProcW(list, message, wParam, lParam);
    case WM_VSCROLL:
      ScrollTo(s, TargetOf(s, LOWORD(wParam)));
      return 0;
    case WM_MOUSEWHEEL:
      OnWheel(s, GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_SETFOCUS && LOWORD(wParam) >= kFirstForgetId &&
          LOWORD(wParam) <= kLastForgetId)
        RevealRowOf(s, LOWORD(wParam));
      return SendMessageW(s.window, message, wParam, lParam);
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(s.window, message, wParam, lParam);
    case WM_NCDESTROY:
      RemoveWindowSubclass(list, TrustedListProc, 1);
      break;
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

void DestroyRows(SetupDialogState& s) {
  for (const TrustedRow& row : s.trustedRows)
    for (HWND control : {row.icon, row.name, row.line, row.forget})
      if (control)
        DestroyWindow(control);
  s.trustedRows.clear();
  if (s.emptyTrustedLabel)
    DestroyWindow(s.emptyTrustedLabel);
  s.emptyTrustedLabel = nullptr;
}

std::string Signature(const std::vector<TrustedPeer>& peers) {
  std::string signature;
  for (const TrustedPeer& peer : peers)
    signature += peer.id + "|" + peer.name + "|" + peer.firstPaired + ";";
  return signature;
}

// A row placed where the current scroll position shows it.
TrustedRow AddRow(SetupDialogState& s, const TrustedPeer& peer, int index, int w) {
  HWND list = s.trustedList;
  const int y = index * kRowHeight - s.trustedScroll;
  TrustedRow row;
  row.peerId = peer.id;
  row.icon = AddIconControl(s, list, icons::kPhone, Box(0, y + 6, 22, 22));
  row.name = AddChildControl(
      list, L"STATIC", ToWide(peer.name.empty() ? "(unnamed iPhone)" : peer.name),
      SS_ENDELLIPSIS | SS_NOPREFIX, Box(30, y + 2, w - 110, 18), 0, s.fonts.bodyBold, kRolePlain);
  row.line = AddChildControl(
      list, L"STATIC", ToWide(peer.firstPaired.empty() ? "" : "paired " + peer.firstPaired),
      SS_ENDELLIPSIS, Box(30, y + 20, w - 110, 16), 0, s.fonts.small, kRoleValue);
  row.forget = AddChildControl(list, L"BUTTON", L"Forget", WS_TABSTOP | BS_OWNERDRAW | BS_NOTIFY,
                               Box(w - 70, y + 8, 70, 24), kFirstForgetId + 10 * index,
                               s.fonts.body, kRolePlain);
  return row;
}

}  // namespace

void CreateTrustedList(SetupDialogState& s) {
  s.trustedList = CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL, kListX,
                                  kListY, kListWidth, kListHeight, s.window, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  if (s.trustedList == nullptr)
    return;
  SetWindowTheme(s.trustedList, L"DarkMode_Explorer", nullptr);
  SetWindowSubclass(s.trustedList, TrustedListProc, 1, reinterpret_cast<DWORD_PTR>(&s));
  ShowScrollBar(s.trustedList, SB_VERT, FALSE);
}

void RebuildTrustedList(SetupDialogState& s) {
  if (s.trustedList == nullptr)
    return;
  std::vector<TrustedPeer> peers = trusted::LoadAll();
  std::string signature = Signature(peers);
  if (signature == s.trustedSignature && (s.emptyTrustedLabel || !s.trustedRows.empty()))
    return;
  s.trustedSignature = std::move(signature);
  s.peers = std::move(peers);
  DestroyRows(s);
  if (s.peers.empty()) {
    s.emptyTrustedLabel = AddChildControl(s.trustedList, L"STATIC", L"No iPhones paired yet.", 0,
                                          Box(0, 4, kListWidth, 18), 0, s.fonts.small, kRolePlain);
    s.trustedScroll = 0;
    UpdateScrollBar(s);
    return;
  }
  const size_t count = std::min<size_t>(s.peers.size(), kMaxTrustedRows);
  // Rows leave room for the scroll bar when there is one, so it never covers a Forget button.
  const int width = static_cast<int>(count) > kVisibleRows
                        ? kListWidth - GetSystemMetrics(SM_CXVSCROLL) - 6
                        : kListWidth;
  s.trustedScroll = std::clamp(s.trustedScroll, 0, MaxScrollFor(count));
  for (size_t i = 0; i < count; ++i)
    s.trustedRows.push_back(AddRow(s, s.peers[i], static_cast<int>(i), width));
  UpdateScrollBar(s);
  InvalidateRect(s.trustedList, nullptr, TRUE);
}

bool ForwardWheelToTrustedList(SetupDialogState& s, WPARAM wParam, LPARAM lParam) {
  if (s.trustedList == nullptr)
    return false;
  const POINT cursor = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  RECT area;
  GetWindowRect(s.trustedList, &area);
  if (!PtInRect(&area, cursor))
    return false;
  OnWheel(s, GET_WHEEL_DELTA_WPARAM(wParam));
  return true;
}

}  // namespace Sorvane::setupui
