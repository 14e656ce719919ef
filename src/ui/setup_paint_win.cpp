#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <objidl.h>
// after objidl.h
#include <gdiplus.h>

#include "ui/icon_glyphs.h"
#include "ui/setup_window_win.h"

namespace Sorvane::setupui {
namespace {

struct ButtonStyle {
  COLORREF fill, pressed, border, text;
  bool hasBorder;
};

constexpr ButtonStyle kPrimary = {kAccent, RGB(5, 112, 220), 0, RGB(255, 255, 255), false};
constexpr ButtonStyle kDestructive = {RGB(255, 69, 58), RGB(210, 50, 40), 0, RGB(255, 255, 255),
                                      false};
constexpr ButtonStyle kNeutral = {RGB(72, 72, 76), RGB(60, 60, 64), RGB(96, 96, 100), kPrimaryText,
                                  true};
constexpr ButtonStyle kTertiary = {RGB(52, 52, 56), RGB(60, 60, 64), RGB(80, 80, 84), kPrimaryText,
                                   true};

Gdiplus::Color ToColor(COLORREF c) {
  return Gdiplus::Color(255, GetRValue(c), GetGValue(c), GetBValue(c));
}

// A rounded rectangle inset by half a pixel so 1-pixel outlines land on whole pixels.
void RoundedPath(Gdiplus::GraphicsPath& path, const RECT& r, float radius) {
  const float x = r.left + 0.5f, y = r.top + 0.5f;
  const float w = (r.right - r.left) - 1.0f, h = (r.bottom - r.top) - 1.0f;
  const float d = radius * 2;
  path.AddArc(x, y, d, d, 180, 90);
  path.AddArc(x + w - d, y, d, d, 270, 90);
  path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  path.AddArc(x, y + h - d, d, d, 90, 90);
  path.CloseFigure();
}

void FillRounded(Gdiplus::Graphics& g, const RECT& r, float radius, COLORREF fill, bool border,
                 COLORREF borderColour) {
  Gdiplus::GraphicsPath path;
  RoundedPath(path, r, radius);
  Gdiplus::SolidBrush brush(ToColor(fill));
  g.FillPath(&brush, &path);
  if (border) {
    Gdiplus::Pen pen(ToColor(borderColour), 1.0f);
    g.DrawPath(&pen, &path);
  }
}

void Smooth(Gdiplus::Graphics& g) {
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
}

// Paints through an off-screen bitmap of the control's size, then copies it in one go.
template <typename Draw>
void DoubleBuffered(HDC target, const RECT& client, Draw draw) {
  HDC memory = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, client.right, client.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  draw(memory);
  BitBlt(target, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void PaintDot(HWND control, HDC dc) {
  RECT client;
  GetClientRect(control, &client);
  const bool on = GetWindowLongPtrW(control, GWLP_USERDATA) == 1;
  DoubleBuffered(dc, client, [&](HDC memory) {
    FillSolid(memory, client, kCardColour);
    Gdiplus::Graphics g(memory);
    Smooth(g);
    Gdiplus::SolidBrush brush(ToColor(on ? kDotOn : kDotOff));
    g.FillEllipse(&brush, client.right / 2.0f - 5, client.bottom / 2.0f - 5, 10.0f, 10.0f);
  });
}

void PaintToggle(const SetupDialogState& s, HWND control, HDC dc) {
  RECT client;
  GetClientRect(control, &client);
  const bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  const IconGlyph icon =
      IconFor(s.fonts.icons,
              GetDlgCtrlID(control) == kDiscoverableId ? icons::kDiscoverable : icons::kEncoder);
  wchar_t label[128] = {};
  GetWindowTextW(control, label, 128);
  DoubleBuffered(dc, client, [&](HDC memory) {
    FillSolid(memory, client, kCardColour);
    SetBkMode(memory, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(memory, icon.font);
    SetTextColor(memory, kSecondaryText);
    RECT iconRect = {2, 0, 24, client.bottom};
    DrawTextW(memory, icon.text.c_str(), -1, &iconRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(memory, s.fonts.body);
    SetTextColor(memory, kPrimaryText);
    const RECT pill = {client.right - 2 - 44, (client.bottom - 24) / 2, client.right - 2,
                       (client.bottom - 24) / 2 + 24};
    RECT text = {28, 0, pill.left - 8, client.bottom};
    DrawTextW(memory, label, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(memory, oldFont);
    Gdiplus::Graphics g(memory);
    Smooth(g);
    FillRounded(g, pill, 12, checked ? kAccent : kToggleOff, false, 0);
    Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
    const float knobX = checked ? pill.right - 22.0f : pill.left + 2.0f;
    g.FillEllipse(&white, knobX, pill.top + 2.0f, 20.0f, 20.0f);
    if (GetFocus() == control)
      DrawFocusRect(memory, &client);
  });
}

LRESULT CALLBACK CustomPaintProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR stateRef) {
  auto* s = reinterpret_cast<SetupDialogState*>(stateRef);
  const bool isDot = GetDlgCtrlID(control) == kStatusDotId;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(control, &ps);
      if (isDot)
        PaintDot(control, dc);
      else
        PaintToggle(*s, control, dc);
      EndPaint(control, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case BM_SETCHECK: {
      const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
      InvalidateRect(control, nullptr, FALSE);
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(control, CustomPaintProc, 1);
      break;
  }
  if (!isDot && (message == WM_LBUTTONUP || message == WM_KEYUP)) {
    const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
    InvalidateRect(control, nullptr, FALSE);
    return result;
  }
  return DefSubclassProc(control, message, wParam, lParam);
}

const ButtonStyle& StyleFor(int id) {
  if (id == kSaveId)
    return kPrimary;
  if (id == kCloseId)
    return kNeutral;
  if (id == kAdvancedId)
    return kTertiary;
  return kDestructive;
}

}  // namespace

void PaintCards(const SetupDialogState& s, HDC target) {
  RECT client;
  GetClientRect(s.window, &client);
  DoubleBuffered(target, client, [&](HDC memory) {
    FillRect(memory, &client, s.backgroundBrush);
    Gdiplus::Graphics g(memory);
    Smooth(g);
    for (const Card& card : s.cards)
      if (!IsRectEmpty(&card.rect))
        FillRounded(g, card.rect, 10, card.fill, card.border, kCardBorder);
  });
}

void DrawButton(const SetupDialogState& s, const DRAWITEMSTRUCT& item) {
  const ButtonStyle& style = StyleFor(static_cast<int>(item.CtlID));
  const bool pressed = item.itemState & ODS_SELECTED;
  const bool disabled = item.itemState & ODS_DISABLED;
  HDC dc = item.hDC;
  RECT rect = item.rcItem;
  // The button's corners show the card or window behind it.
  const bool onCard = item.CtlID != kAdvancedId && item.CtlID != kCloseId;
  FillSolid(dc, rect, onCard ? kCardColour : kBackground);
  {
    Gdiplus::Graphics g(dc);
    Smooth(g);
    FillRounded(g, rect, 6, pressed ? style.pressed : style.fill, style.hasBorder, style.border);
  }
  wchar_t text[128] = {};
  GetWindowTextW(item.hwndItem, text, 128);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, disabled ? kTertiaryText : style.text);
  HGDIOBJ oldFont = SelectObject(dc, s.fonts.body);
  DrawTextW(dc, text, -1, &rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, oldFont);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = rect;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}

void InstallCustomPainting(SetupDialogState& s, HWND dot, HWND discoverable, HWND async) {
  for (HWND control : {dot, discoverable, async})
    SetWindowSubclass(control, CustomPaintProc, 1, reinterpret_cast<DWORD_PTR>(&s));
}

COLORREF StaticTextColour(HWND control) {
  switch (GetDlgCtrlID(control)) {
    case kTitleId:
      return kPrimaryText;
    case kSubtitleId:
      return kSecondaryText;
    case kActiveEncoderId:
    case kNextLoadNoteId:
    case kInstanceIdId:
      return kTertiaryText;
  }
  switch (GetWindowLongPtrW(control, GWLP_USERDATA)) {
    case kRoleSection:
    case kRoleValue:
    case kRoleIcon:
      return kSecondaryText;
    case kRoleSubSection:
    case kRoleFooter:
      return kTertiaryText;
    default:
      return kPrimaryText;
  }
}

}  // namespace Sorvane::setupui
