#pragma once
#include <windows.h>

#include <string>

namespace Sorvane {

struct FontSpec {
  int height;  // negative: character height in pixels, as CreateFontW takes it
  int weight;
  DWORD pitchAndFamily;
  const wchar_t* face;
};

HFONT CreateSpecFont(const FontSpec& spec);

// The width of `text` on one line in `font`, in pixels.
int TextWidthInFont(HFONT font, const std::wstring& text);

// The font of `spec`, made smaller one pixel at a time down to `smallestHeight` until `text` fits
// on one line of `width` pixels. Where the face is missing the system substitutes another, often
// wider one; without this a fixed-width label would lose its end.
HFONT CreateFittingFont(const FontSpec& spec, const std::wstring& text, int width,
                        int smallestHeight);

}  // namespace Sorvane
