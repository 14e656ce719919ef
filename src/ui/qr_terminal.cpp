#include "ui/qr_terminal.h"

namespace Sorvane {
namespace {

const char* Cell(bool top, bool bottom) {
  if (top && bottom)
    return "\xE2\x96\x88";  // full block
  if (top)
    return "\xE2\x96\x80";  // upper half block
  if (bottom)
    return "\xE2\x96\x84";  // lower half block
  return " ";
}

}  // namespace

std::vector<std::string> QrTerminalLines(const QrCode& qr, int quietZone) {
  if (qr.size < 1)
    return {};
  const int first = -quietZone;
  const int end = qr.size + quietZone;
  std::vector<std::string> lines;
  for (int y = first; y < end; y += 2) {
    std::string line;
    for (int x = first; x < end; ++x)
      line += Cell(QrGetModule(qr, x, y), QrGetModule(qr, x, y + 1));
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace Sorvane
