#include <array>

#include "ui/qr_internal.h"

namespace Sorvane::qr {
namespace {

struct GaloisTables {
  std::array<uint8_t, 512> exp{};  // doubled so that log a + log b indexes it directly
  std::array<uint8_t, 256> log{};
};

GaloisTables BuildTables() {
  GaloisTables tables;
  int value = 1;
  for (int i = 0; i < 255; ++i) {
    tables.exp[i] = static_cast<uint8_t>(value);
    tables.log[value] = static_cast<uint8_t>(i);
    value <<= 1;
    if (value & 0x100)
      value ^= 0x11D;
  }
  for (int i = 255; i < 512; ++i)
    tables.exp[i] = tables.exp[i - 255];
  return tables;
}

const GaloisTables& Tables() {
  static const GaloisTables tables = BuildTables();  // built once, thread-safe
  return tables;
}

}  // namespace

uint8_t GfMultiply(uint8_t a, uint8_t b) {
  if (a == 0 || b == 0)
    return 0;
  const GaloisTables& t = Tables();
  return t.exp[t.log[a] + t.log[b]];
}

std::vector<uint8_t> GeneratorPolynomial(int degree) {
  // Multiplies out the factors one by one; coeffs[0] is the highest power below the leading 1.
  std::vector<uint8_t> coeffs(degree, 0);
  coeffs[degree - 1] = 1;
  uint8_t root = 1;
  for (int i = 0; i < degree; ++i) {
    for (int j = 0; j < degree; ++j) {
      coeffs[j] = GfMultiply(coeffs[j], root);
      if (j + 1 < degree)
        coeffs[j] ^= coeffs[j + 1];
    }
    root = GfMultiply(root, 2);
  }
  return coeffs;
}

std::vector<uint8_t> EccCodewords(const std::vector<uint8_t>& data,
                                  const std::vector<uint8_t>& generator) {
  std::vector<uint8_t> remainder(generator.size(), 0);
  for (uint8_t byte : data) {
    const uint8_t factor = byte ^ remainder.front();
    remainder.erase(remainder.begin());
    remainder.push_back(0);
    for (size_t i = 0; i < remainder.size(); ++i)
      remainder[i] ^= GfMultiply(generator[i], factor);
  }
  return remainder;
}

}  // namespace Sorvane::qr
