#include "ui/icon_font_win.h"

#include "diag/log.h"
#include "diag/log_channels.h"
#include "ui/fitting_font_win.h"
#include "ui/icon_glyphs.h"

namespace Sorvane {
namespace {

constexpr const wchar_t* kIconFaces[] = {L"Segoe Fluent Icons", L"Segoe MDL2 Assets"};
constexpr const wchar_t* kSymbolFaces[] = {L"Segoe UI Symbol", L"DejaVu Sans"};

HFONT MakeFont(int height, const wchar_t* face) {
  return CreateSpecFont({height, FW_NORMAL, DEFAULT_PITCH | FF_SWISS, face});
}

}  // namespace

bool FontFamilyInstalled(const wchar_t* face) {
  LOGFONTW query = {};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(
      screen, &query,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
        *reinterpret_cast<bool*>(found) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

IconFont CreateIconFont(int height) {
  for (const wchar_t* face : kIconFaces)
    if (FontFamilyInstalled(face))
      return {MakeFont(height, face), true};
  const wchar_t* symbols = kSymbolFaces[0];
  for (const wchar_t* face : kSymbolFaces) {
    if (FontFamilyInstalled(face)) {
      symbols = face;
      break;
    }
  }
  Log(channels::kSetupDialog, kLogInfo, "no icon font installed; icons drawn as symbols");
  return {MakeFont(height, symbols), false};
}

std::wstring IconText(const IconFont& font, wchar_t iconGlyph) {
  return std::wstring(1, font.iconGlyphs ? iconGlyph : StandardSymbolFor(iconGlyph));
}

}  // namespace Sorvane
