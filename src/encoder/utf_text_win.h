#pragma once
#include <string>

namespace Sorvane {

// UTF-16 text from Windows as UTF-8, cut to at most maxBytes bytes without splitting a character.
std::string CappedUtf8(const wchar_t* text, size_t maxBytes);

}  // namespace Sorvane
