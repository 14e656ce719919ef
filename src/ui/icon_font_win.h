#pragma once
#include <windows.h>

#include <string>

namespace Sorvane {

// The font the dialog draws its icons with, and whether it holds the icon-font glyphs themselves
// or the standard symbols that stand in for them.
struct IconFont {
  HFONT font = nullptr;
  bool iconGlyphs = false;
};

// Windows 11's icon font, else Windows 10's, else a symbol font for the stand-ins.
IconFont CreateIconFont(int height);

// What to draw for one icon in that font.
std::wstring IconText(const IconFont& font, wchar_t iconGlyph);

// Whether a font family of that name is installed.
bool FontFamilyInstalled(const wchar_t* face);

}  // namespace Sorvane
