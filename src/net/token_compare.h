#pragma once
#include <string_view>

namespace Sorvane {

// Compares two secrets in time that depends only on their lengths, not on where they differ.
bool TokensEqual(std::string_view a, std::string_view b);

}  // namespace Sorvane
