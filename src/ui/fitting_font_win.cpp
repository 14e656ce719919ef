#include "ui/fitting_font_win.h"

namespace Sorvane {
namespace {

int TextWidth(HDC dc, HFONT font, const std::wstring& text) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  return size.cx;
}

}  // namespace

int TextWidthInFont(HFONT font, const std::wstring& text) {
  HDC screen = GetDC(nullptr);
  const int width = TextWidth(screen, font, text);
  ReleaseDC(nullptr, screen);
  return width;
}

HFONT CreateSpecFont(const FontSpec& spec) {
  return CreateFontW(spec.height, 0, 0, 0, spec.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     spec.pitchAndFamily, spec.face);
}

HFONT CreateFittingFont(const FontSpec& spec, const std::wstring& text, int width,
                        int smallestHeight) {
  HDC screen = GetDC(nullptr);
  FontSpec trial = spec;
  HFONT font = CreateSpecFont(trial);
  while (font != nullptr && trial.height < smallestHeight &&
         TextWidth(screen, font, text) > width) {
    DeleteObject(font);
    ++trial.height;
    font = CreateSpecFont(trial);
  }
  ReleaseDC(nullptr, screen);
  return font;
}

}  // namespace Sorvane
