#pragma once
#include <cstdint>
#include <functional>
#include <string_view>

namespace Sorvane::receiver {

// A 5×7 pixel font for the preview's status line: digits, letters (lower case drawn as upper
// case) and the punctuation the line uses. Characters it lacks are drawn blank.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = kGlyphWidth + 1;

// The glyph's rows, top first, bit 4 the leftmost pixel; null when the font lacks `c`.
const uint8_t* GlyphRows(char c);

// Calls `lit(x, y)` for every lit pixel of `text` set on one line from (0, 0).
void ForEachLitPixel(std::string_view text, const std::function<void(int x, int y)>& lit);

// Width in pixels of `text` set on one line.
inline int TextWidth(std::string_view text) {
  return text.empty() ? 0 : static_cast<int>(text.size()) * kGlyphAdvance - 1;
}

}  // namespace Sorvane::receiver
