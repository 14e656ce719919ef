#include <algorithm>
#include <cstdlib>

#include "ui/qr_internal.h"

namespace Sorvane {

std::vector<int> QrAlignmentPositions(int version) {
  if (version < 2 || version > 40)
    return {};
  const int count = version / 7 + 2;
  const int size = 4 * version + 17;
  const int step = version == 32 ? 26 : (4 * version + 2 * count + 1) / (2 * count - 2) * 2;
  std::vector<int> positions(count);
  positions[0] = 6;
  for (int i = count - 1, pos = size - 7; i >= 1; --i, pos -= step)
    positions[i] = pos;
  return positions;
}

namespace qr {
namespace {

void SetFunction(QrCode& qr, int x, int y, bool dark) {
  const size_t index = static_cast<size_t>(y) * qr.size + x;
  qr.modules[index] = dark ? 1 : 0;
  qr.isFunction[index] = 1;
}

uint8_t& At(QrCode& qr, int x, int y) {
  return qr.modules[static_cast<size_t>(y) * qr.size + x];
}

bool IsFunction(const QrCode& qr, int x, int y) {
  return qr.isFunction[static_cast<size_t>(y) * qr.size + x] != 0;
}

// The finder with its separator: dark except at Chebyshev distance 2 and 4 from the centre.
void DrawFinder(QrCode& qr, int cx, int cy) {
  for (int dy = -4; dy <= 4; ++dy) {
    for (int dx = -4; dx <= 4; ++dx) {
      const int x = cx + dx, y = cy + dy;
      if (x < 0 || y < 0 || x >= qr.size || y >= qr.size)
        continue;
      const int distance = std::max(std::abs(dx), std::abs(dy));
      SetFunction(qr, x, y, distance != 2 && distance != 4);
    }
  }
}

void DrawAlignment(QrCode& qr, int cx, int cy) {
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      SetFunction(qr, cx + dx, cy + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
}

void DrawAlignments(QrCode& qr) {
  const std::vector<int> positions = QrAlignmentPositions(qr.version);
  const size_t last = positions.size() - 1;
  for (size_t i = 0; i < positions.size(); ++i) {
    for (size_t j = 0; j < positions.size(); ++j) {
      const bool overlapsFinder =
          (i == 0 && j == 0) || (i == 0 && j == last) || (i == last && j == 0);
      if (!overlapsFinder)
        DrawAlignment(qr, positions[i], positions[j]);
    }
  }
}

// Remainder of `value` shifted by the generator's degree, divided by the generator.
uint32_t BchRemainder(uint32_t value, uint32_t generator, int degree) {
  uint32_t remainder = value << degree;
  for (int bit = 31; bit >= degree; --bit)
    if (remainder & (1u << bit))
      remainder ^= generator << (bit - degree);
  return remainder;
}

bool Bit(uint32_t value, int i) {
  return ((value >> i) & 1) != 0;
}

bool MaskHolds(int mask, int x, int y) {
  switch (mask) {
    case 0:
      return (x + y) % 2 == 0;
    case 1:
      return y % 2 == 0;
    case 2:
      return x % 3 == 0;
    case 3:
      return (x + y) % 3 == 0;
    case 4:
      return (x / 3 + y / 2) % 2 == 0;
    case 5:
      return x * y % 2 + x * y % 3 == 0;
    case 6:
      return (x * y % 2 + x * y % 3) % 2 == 0;
    default:
      return ((x + y) % 2 + x * y % 3) % 2 == 0;
  }
}

// Runs of five or more equal modules along one line: 3 for five, 1 more for each further one.
int RunPenalty(const QrCode& qr, bool alongRows) {
  int score = 0;
  for (int line = 0; line < qr.size; ++line) {
    int run = 0;
    bool previous = false;
    for (int i = 0; i < qr.size; ++i) {
      const bool dark = alongRows ? QrGetModule(qr, i, line) : QrGetModule(qr, line, i);
      run = (i > 0 && dark == previous) ? run + 1 : 1;
      previous = dark;
      if (run == 5)
        score += 3;
      else if (run > 5)
        score += 1;
    }
  }
  return score;
}

int BlockPenalty(const QrCode& qr) {
  int score = 0;
  for (int y = 0; y + 1 < qr.size; ++y) {
    for (int x = 0; x + 1 < qr.size; ++x) {
      const bool dark = QrGetModule(qr, x, y);
      if (dark == QrGetModule(qr, x + 1, y) && dark == QrGetModule(qr, x, y + 1) &&
          dark == QrGetModule(qr, x + 1, y + 1))
        score += 3;
    }
  }
  return score;
}

}  // namespace

QrCode BlankSymbol(int version) {
  QrCode qr;
  qr.version = version;
  qr.size = 4 * version + 17;
  qr.modules.assign(static_cast<size_t>(qr.size) * qr.size, 0);
  qr.isFunction.assign(qr.modules.size(), 0);
  for (int i = 8; i <= qr.size - 9; ++i) {
    SetFunction(qr, 6, i, i % 2 == 0);
    SetFunction(qr, i, 6, i % 2 == 0);
  }
  DrawFinder(qr, 3, 3);
  DrawFinder(qr, qr.size - 4, 3);
  DrawFinder(qr, 3, qr.size - 4);
  DrawAlignments(qr);
  DrawFormatBits(qr, 0);  // reserves the format areas; redrawn once the mask is known
  if (version >= 7) {
    for (int i = 0; i < 18; ++i) {
      SetFunction(qr, qr.size - 11 + i % 3, i / 3, false);
      SetFunction(qr, i / 3, qr.size - 11 + i % 3, false);
    }
  }
  return qr;
}

void PlaceCodewords(QrCode& qr, const std::vector<uint8_t>& codewords) {
  const size_t totalBits = codewords.size() * 8;
  size_t bit = 0;
  for (int right = qr.size - 1; right >= 1; right -= 2) {
    if (right == 6)
      right = 5;  // the vertical timing pattern takes a whole column
    const bool upwards = ((right + 1) & 2) == 0;
    for (int step = 0; step < qr.size; ++step) {
      const int y = upwards ? qr.size - 1 - step : step;
      for (int x = right; x >= right - 1; --x) {
        if (IsFunction(qr, x, y) || bit >= totalBits)
          continue;
        At(qr, x, y) = Bit(codewords[bit / 8], 7 - static_cast<int>(bit % 8)) ? 1 : 0;
        ++bit;
      }
    }
  }
}

void ApplyMask(QrCode& qr, int mask) {
  for (int y = 0; y < qr.size; ++y)
    for (int x = 0; x < qr.size; ++x)
      if (!IsFunction(qr, x, y) && MaskHolds(mask, x, y))
        At(qr, x, y) ^= 1;
}

void DrawFormatBits(QrCode& qr, int mask) {
  const uint32_t data = (0x2u << 3) | static_cast<uint32_t>(mask);  // level H is 10
  const uint32_t bits = ((data << 10) | BchRemainder(data, 0x537, 10)) ^ 0x5412;
  for (int i = 0; i <= 5; ++i)
    SetFunction(qr, 8, i, Bit(bits, i));
  SetFunction(qr, 8, 7, Bit(bits, 6));
  SetFunction(qr, 8, 8, Bit(bits, 7));
  SetFunction(qr, 7, 8, Bit(bits, 8));
  for (int i = 9; i < 15; ++i)
    SetFunction(qr, 14 - i, 8, Bit(bits, i));
  for (int i = 0; i < 8; ++i)
    SetFunction(qr, qr.size - 1 - i, 8, Bit(bits, i));
  for (int i = 8; i < 15; ++i)
    SetFunction(qr, 8, qr.size - 15 + i, Bit(bits, i));
  SetFunction(qr, 8, qr.size - 8, true);
}

void DrawVersionBits(QrCode& qr) {
  if (qr.version < 7)
    return;
  const uint32_t version = static_cast<uint32_t>(qr.version);
  const uint32_t bits = (version << 12) | BchRemainder(version, 0x1F25, 12);
  for (int i = 0; i < 18; ++i) {
    const int a = qr.size - 11 + i % 3, b = i / 3;
    SetFunction(qr, a, b, Bit(bits, i));
    SetFunction(qr, b, a, Bit(bits, i));
  }
}

int PenaltyScore(const QrCode& qr) {
  return RunPenalty(qr, true) + RunPenalty(qr, false) + BlockPenalty(qr);
}

}  // namespace qr
}  // namespace Sorvane
