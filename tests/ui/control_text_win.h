#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace Sorvane::test {

std::wstring TextOf(HWND control);

// How wide the control's text is, on one line, in the font the control draws it with.
int TextWidthIn(HWND control);

// The characters of the control's text its font has no glyph for (drawn as empty boxes).
std::wstring MissingGlyphs(HWND control);

// Every descendant of the window, depth first.
std::vector<HWND> Descendants(HWND window);

}  // namespace Sorvane::test
