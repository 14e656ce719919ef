#pragma once
#include <string>
#include <vector>

#include "ui/qr_code.h"

namespace Sorvane {

// The symbol as lines of UTF-8 block characters, two modules stacked in each character cell,
// with `quietZone` light modules on every side. A glyph's ink is a dark module, so the text
// reads right when shown dark on light.
std::vector<std::string> QrTerminalLines(const QrCode& qr, int quietZone);

}  // namespace Sorvane
