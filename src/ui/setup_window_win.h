#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "store/install_identity.h"
#include "store/trusted_peers.h"
#include "ui/fitting_font_win.h"
#include "ui/icon_font_win.h"
#include "ui/qr_code.h"

namespace Sorvane::setupui {

// Control ids.
enum : int {
  kTitleId = 2001,
  kSubtitleId = 2002,
  kNameBoxId = 2003,
  kSaveId = 2004,
  kDiscoverableId = 2008,
  kCloseId = 2012,
  kAsyncEncoderId = 2016,
  kAdvancedId = 2018,
  kStatusDotId = 2200,
  kStatusTextId = 2201,
  kActiveEncoderId = 2202,
  kInstanceIdId = 2204,
  kQrImageId = 2205,
  kNextLoadNoteId = 2206,
  kFirstForgetId = 2500,
  kLastForgetId = 2799,
};

// Text colour roles kept in each static control's user data.
enum Role : LONG_PTR {
  kRolePlain = 0,
  kRoleSection = 10,
  kRoleValue = 11,
  kRoleSubSection = 12,
  kRoleIcon = 13,
  kRoleFooter = 14,
  kRoleAdvanced = 42,
};

constexpr FontSpec kLabelFont = {-12, 400, DEFAULT_PITCH | FF_SWISS, L"Segoe UI"};
constexpr FontSpec kMonoFont = {-12, 400, DEFAULT_PITCH | FF_SWISS, L"Consolas"};
constexpr int kMonoSteps = 3;  // smaller cuts of the mono font, one pixel apart

struct Fonts {
  HFONT title, subtitle, section, body, bodyBold, label, mono, small;
  IconFont icons;
  HFONT monoSteps[kMonoSteps];  // for status values too long for the mono font
};

struct Card {
  RECT rect;
  COLORREF fill;
  bool border;
};

struct TrustedRow {
  HWND icon = nullptr, name = nullptr, line = nullptr, forget = nullptr;
  std::string peerId;
};

// Everything one open dialog owns; lives on the dialog thread, reachable from the window.
struct SetupDialogState {
  HWND window = nullptr;
  std::map<int, HWND> rowValues;  // status row id → value control
  HWND trustedList = nullptr;     // scrolling pane inside the trusted card that holds the rows
  int trustedScroll = 0;          // pixels scrolled
  int wheelRemainder = 0;         // wheel movement below one row, kept for the next notch
  HWND emptyTrustedLabel = nullptr;
  HWND footer = nullptr;
  std::vector<TrustedRow> trustedRows;
  bool advanced = false;
  int collapsedFooterY = 0, expandedFooterY = 0;
  int collapsedWindowHeight = 0, expandedWindowHeight = 0;
  Fonts fonts = {};
  HBRUSH backgroundBrush = nullptr, cardBrush = nullptr, editBrush = nullptr;
  std::vector<Card> cards;
  std::vector<HFONT> fittedFonts;  // smaller cuts made for labels too long for their font
  RECT savedAdvancedCards[2] = {};
  QrCode qr;
  std::string trustedSignature;
  std::vector<TrustedPeer> peers;
  InstallIdentity identity;
  ULONG_PTR gdiplusToken = 0;
};

// Colours.
constexpr COLORREF kBackground = RGB(28, 28, 30);
constexpr COLORREF kCardColour = RGB(44, 44, 46);
constexpr COLORREF kEditColour = RGB(58, 58, 62);
constexpr COLORREF kCardBorder = RGB(64, 64, 68);
constexpr COLORREF kPrimaryText = RGB(235, 235, 245);
constexpr COLORREF kSecondaryText = RGB(155, 155, 165);
constexpr COLORREF kTertiaryText = RGB(105, 105, 115);
constexpr COLORREF kAccent = RGB(10, 132, 255);
constexpr COLORREF kToggleOff = RGB(72, 72, 76);
constexpr COLORREF kDotOn = RGB(48, 209, 88);
constexpr COLORREF kDotOff = RGB(105, 105, 115);

// Fixed layout figures.
constexpr int kClientWidth = 820;
constexpr RECT kTrustedCard = {256, 306, 256 + 544, 306 + 160};
constexpr int kAdvancedTop = 538;
constexpr int kExpandedFooterY = 1010;

// Building and refreshing (setup_window_win.cpp, setup_rows_win.cpp).
bool CreateSetupWindow(SetupDialogState& state);
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void CreateStatusRows(SetupDialogState& state);
void RefreshStaticInfo(SetupDialogState& state);
void CreateTrustedList(SetupDialogState& state);
void RebuildTrustedList(SetupDialogState& state);
// Scrolls the trusted list when the wheel turns over it; false when the cursor is elsewhere.
bool ForwardWheelToTrustedList(SetupDialogState& state, WPARAM wParam, LPARAM lParam);
void SetAdvancedVisible(SetupDialogState& state, bool expanded);
void RefreshStatus(SetupDialogState& state);
// Sets a status row's value, in the largest mono cut it fits in.
void SetRowValue(SetupDialogState& state, int id, const std::wstring& text);
// True when the text changed.
bool SetTextIfChanged(HWND control, const std::wstring& text);
HWND AddControl(SetupDialogState& state, const wchar_t* className, const std::wstring& text,
                DWORD style, RECT rect, int id, HFONT font, LONG_PTR role);
HWND AddChildControl(HWND parent, const wchar_t* className, const std::wstring& text, DWORD style,
                     RECT rect, int id, HFONT font, LONG_PTR role);
inline RECT Box(int x, int y, int w, int h) {
  return {x, y, x + w, y + h};
}
// A static showing one icon (an icon-font code point) in `parent`.
HWND AddIconControl(const SetupDialogState& state, HWND parent, wchar_t glyph, RECT rect);

// Drawing (setup_paint_win.cpp).
void PaintCards(const SetupDialogState& state, HDC target);
void DrawButton(const SetupDialogState& state, const DRAWITEMSTRUCT& item);
void InstallCustomPainting(SetupDialogState& state, HWND dot, HWND discoverable, HWND async);
COLORREF StaticTextColour(HWND control);

}  // namespace Sorvane::setupui
