#pragma once

namespace Sorvane {

// The dialog's icons are code points of the Windows icon fonts, which keep them in the private-use
// area. Where no icon font is installed (Windows before 10, Wine), each icon is drawn instead as a
// standard Unicode symbol that ordinary text fonts carry.
namespace icons {
constexpr wchar_t kName = 0xE770;
constexpr wchar_t kDiscoverable = 0xE701;
constexpr wchar_t kEncoder = 0xE950;
constexpr wchar_t kPhone = 0xE8EA;
}  // namespace icons

// The standard symbol standing in for an icon-font glyph; a bullet for one without its own.
wchar_t StandardSymbolFor(wchar_t iconGlyph);

}  // namespace Sorvane
