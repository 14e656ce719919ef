#include "ui/control_text_win.h"

namespace Sorvane::test {
namespace {

// Runs `use` with a screen DC holding the control's font.
template <typename Use>
auto WithControlFont(HWND control, Use use) {
  HDC dc = GetDC(nullptr);
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  auto result = use(dc);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return result;
}

}  // namespace

std::wstring TextOf(HWND control) {
  wchar_t text[512] = {};
  GetWindowTextW(control, text, 512);
  return text;
}

int TextWidthIn(HWND control) {
  const std::wstring text = TextOf(control);
  return WithControlFont(control, [&](HDC dc) {
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  });
}

std::wstring MissingGlyphs(HWND control) {
  const std::wstring text = TextOf(control);
  if (text.empty())
    return {};
  return WithControlFont(control, [&](HDC dc) {
    std::vector<WORD> indices(text.size());
    GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), indices.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
    std::wstring missing;
    for (size_t i = 0; i < text.size(); ++i)
      if (indices[i] == 0xFFFF && text[i] != L'\n')
        missing += text[i];
    return missing;
  });
}

std::vector<HWND> Descendants(HWND window) {
  std::vector<HWND> found;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace Sorvane::test
