#include "fec/row_combine.h"

#include <cstring>
#include <initializer_list>

#include "fec/nibble_tables.h"

namespace Sorvane::fec {
namespace {

// target ^= c · source over [begin, end), with no branch per byte. A long run first expands the
// two nibble tables into one row of 256 products, which halves the lookups.
void MultiplyAddRange(uint8_t* target, const uint8_t* source, uint8_t c, size_t begin, size_t end) {
  const uint8_t* low = NibbleTables() + c * kNibbleTableBytes;
  const uint8_t* high = low + kHighNibbleOffset;
  if (end - begin < 256) {
    for (size_t i = begin; i < end; ++i)
      target[i] ^= low[source[i] & 15] ^ high[source[i] >> 4];
    return;
  }
  uint8_t products[256];
  for (unsigned b = 0; b < 256; ++b)
    products[b] = low[b & 15] ^ high[b >> 4];
  for (size_t i = begin; i < end; ++i)
    target[i] ^= products[source[i]];
}

}  // namespace

void CombineScalar(const Combination& c, size_t begin, size_t end) {
  if (begin >= end)
    return;
  for (int r = 0; r < c.rows; ++r) {
    uint8_t* target = c.targets[r];
    if (!c.accumulate)
      std::memset(target + begin, 0, end - begin);
    const uint8_t* coefficients = c.coefficients + static_cast<size_t>(r) * c.sourceCount;
    for (int j = 0; j < c.sourceCount; ++j)
      MultiplyAddRange(target, c.sources[j], coefficients[j], begin, end);
  }
}

SimdLevel BestSimdLevel() {
  static const SimdLevel best = [] {
    for (SimdLevel level : {SimdLevel::Avx2, SimdLevel::Ssse3}) {
      if (VectorKernelFor(level) != nullptr)
        return level;
    }
    return SimdLevel::Scalar;
  }();
  return best;
}

void Combine(const Combination& combination, SimdLevel level) {
  const VectorCombineKernel kernel = VectorKernelFor(level);
  const size_t done = kernel != nullptr ? kernel(combination) : 0;
  CombineScalar(combination, done, combination.bytes);
}

void Combine(const Combination& combination) {
  Combine(combination, BestSimdLevel());
}

}  // namespace Sorvane::fec
