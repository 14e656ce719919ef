#include "fec/nibble_tables.h"

#include <array>

#include "fec/gf256.h"

namespace Sorvane::fec {
namespace {

using Tables = std::array<uint8_t, 256 * kNibbleTableBytes>;

constexpr Tables Build() {
  Tables tables{};
  for (unsigned c = 0; c < 256; ++c) {
    for (unsigned x = 0; x < 32; ++x) {
      const auto nibble = static_cast<uint8_t>(x & 15);
      const size_t at = c * kNibbleTableBytes + x;
      tables[at] = gf256::Multiply(static_cast<uint8_t>(c), nibble);
      tables[at + kHighNibbleOffset] =
          gf256::Multiply(static_cast<uint8_t>(c), static_cast<uint8_t>(nibble << 4));
    }
  }
  return tables;
}

alignas(32) constexpr Tables kTables = Build();

// Spot checks of the field: x^8 reduces by the polynomial, and inverses multiply to one.
static_assert(gf256::Multiply(0x80, 2) == (0x100 ^ gf256::kPolynomial));
static_assert(gf256::Multiply(gf256::Inverse(0x53), 0x53) == 1);

}  // namespace

const uint8_t* NibbleTables() {
  return kTables.data();
}

}  // namespace Sorvane::fec
