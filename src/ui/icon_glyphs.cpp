#include "ui/icon_glyphs.h"

#include <utility>

namespace Sorvane {
namespace {

// Icon-font glyph → a look-alike from the Geometric Shapes, Arrows and Miscellaneous Symbols
// blocks, which Segoe UI Symbol and DejaVu Sans both cover.
constexpr std::pair<wchar_t, wchar_t> kSymbols[] = {
    {icons::kName, 0x270E},          // pencil
    {icons::kDiscoverable, 0x25C9},  // fisheye
    {icons::kEncoder, 0x2699},       // gear
    {icons::kPhone, 0x260E},         // telephone
    {0xF5B0, 0x25B6},                // status: play
    {0xE8D6, 0x25C8},                // codec
    {0xF0E4, 0x21C5},                // bitrate: up and down arrows
    {0xE740, 0x25AD},                // resolution: frame
    {0xE714, 0x25A6},                // GOP: grid of frames
    {0xE72E, 0x2295},                // parity
    {0xE74A, 0x21A5},                // ceiling: arrow up to a bar
    {0xE968, 0x25CE},                // network
    {0xEC27, 0x2630},                // interfaces: stacked lines
    {0xE8AB, 0x21C4},                // ports: arrows both ways
    {0xE9D9, 0x25D0},                // controller
    {0xE946, 0x2139},                // information
    {0xE91F, 0x25D4},                // phase
    {0xE7BA, 0x26A0},                // loss: warning
    {0xE7B8, 0x2261},                // backlog: stacked
    {0xE916, 0x25F7},                // one-way-delay trend: clock
    {0xEC48, 0x223F},                // rate mode: wave
};

}  // namespace

wchar_t StandardSymbolFor(wchar_t iconGlyph) {
  for (const auto& [glyph, symbol] : kSymbols)
    if (glyph == iconGlyph)
      return symbol;
  return 0x2022;
}

}  // namespace Sorvane
