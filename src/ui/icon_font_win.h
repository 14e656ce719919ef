#pragma once
#include <windows.h>

#include <string>

namespace Sorvane {

// The fonts the dialog draws its icons with: an icon font where one is installed, and a symbol
// font for the standard symbols that stand in for glyphs the icon font lacks (or all of them,
// where there is none).
struct IconFont {
  HFONT icons = nullptr;  // Windows 11's icon font, else Windows 10's; null without either
  HFONT symbols = nullptr;
};

// What to draw for one icon, and in which of the two fonts.
struct IconGlyph {
  HFONT font;
  std::wstring text;
};

IconFont CreateIconFont(int height);
void DeleteIconFont(IconFont& font);
IconGlyph IconFor(const IconFont& font, wchar_t iconGlyph);

}  // namespace Sorvane
