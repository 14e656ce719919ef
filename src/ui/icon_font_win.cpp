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

// Whether a font family of that name is installed.
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

// Whether the font has a glyph for the character (GDI would draw an empty box otherwise).
bool HasGlyph(HFONT font, wchar_t character) {
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  WORD index = 0xFFFF;
  GetGlyphIndicesW(screen, &character, 1, &index, GGI_MARK_NONEXISTING_GLYPHS);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return index != 0xFFFF;
}

}  // namespace

IconFont CreateIconFont(int height) {
  IconFont font;
  for (const wchar_t* face : kIconFaces) {
    if (FontFamilyInstalled(face)) {
      font.icons = MakeFont(height, face);
      break;
    }
  }
  const wchar_t* symbols = kSymbolFaces[0];
  for (const wchar_t* face : kSymbolFaces) {
    if (FontFamilyInstalled(face)) {
      symbols = face;
      break;
    }
  }
  font.symbols = MakeFont(height, symbols);
  if (font.icons == nullptr)
    Log(channels::kSetupDialog, kLogInfo, "no icon font installed; icons drawn as symbols");
  return font;
}

void DeleteIconFont(IconFont& font) {
  for (HFONT handle : {font.icons, font.symbols})
    if (handle)
      DeleteObject(handle);
  font = {};
}

IconGlyph IconFor(const IconFont& font, wchar_t iconGlyph) {
  if (font.icons != nullptr && HasGlyph(font.icons, iconGlyph))
    return {font.icons, std::wstring(1, iconGlyph)};
  return {font.symbols, std::wstring(1, StandardSymbolFor(iconGlyph))};
}

}  // namespace Sorvane
