#pragma once
#include <cstdint>

// Arithmetic in GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1 (0x14D), the field of the erasure code.
// Addition is XOR; everything here is constexpr so the tables are built by the compiler.
namespace Sorvane::fec::gf256 {

inline constexpr unsigned kPolynomial = 0x14D;

// Carry-less product reduced by the field polynomial.
constexpr uint8_t Multiply(uint8_t a, uint8_t b) {
  unsigned product = 0;
  unsigned shifted = a;
  for (unsigned bits = b; bits != 0; bits >>= 1) {
    if ((bits & 1) != 0)
      product ^= shifted;
    shifted <<= 1;
    if ((shifted & 0x100) != 0)
      shifted ^= kPolynomial;
  }
  return static_cast<uint8_t>(product);
}

// a^254 is a's inverse in a field of 256 elements (0 stays 0).
constexpr uint8_t Inverse(uint8_t a) {
  uint8_t result = 1;
  uint8_t power = a;
  for (unsigned exponent = 254; exponent != 0; exponent >>= 1) {
    if ((exponent & 1) != 0)
      result = Multiply(result, power);
    power = Multiply(power, power);
  }
  return result;
}

}  // namespace Sorvane::fec::gf256
