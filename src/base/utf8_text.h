#pragma once
#include <string>
#include <string_view>

// UTF-8 built from code points and from UTF-16, for text the system writes out.
namespace Sorvane {

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// UTF-16 as UTF-8, each unpaired surrogate replaced by U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace Sorvane
