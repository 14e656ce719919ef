#pragma once
#include <string>

namespace Sorvane {

// UTF-8 ↔ UTF-16 for the Win32 calls; invalid input gives an empty string.
std::wstring ToWide(const std::string& text);
std::string ToUtf8(const std::wstring& text);

}  // namespace Sorvane
