#pragma once
// The vector combine kernel, written once over a small set of register operations. Included only
// by the per-instruction-set files, each compiled for its own instructions; nothing here may
// instantiate a library template, or the linker could keep that instruction set's copy for the
// whole program.
#include <cstddef>
#include <cstdint>

#include "fec/nibble_tables.h"
#include "fec/row_combine.h"

// The register arrays below live in registers only when their loops are unrolled completely,
// which -O2 alone does not promise.
#if defined(__GNUC__)
#define SV_UNROLL _Pragma("GCC unroll 8")
#else
#define SV_UNROLL
#endif

namespace Sorvane::fec::simd {

// Four target rows of two registers each, their nibble indices, the mask and two table registers
// fit the sixteen vector registers without spilling.
inline constexpr int kMaxRowsPerPass = 4;

// A stripe of `Vectors` registers at `offset` across the rows [firstRow, firstRow + Rows): the
// sources are read once for the group, split into nibbles once, and looked up once per row.
template <typename V, int Rows, int Vectors>
inline void CombineStripe(const Combination& c, int firstRow, size_t offset) {
  using Vec = typename V::Vec;
  const uint8_t* tables = NibbleTables();
  const uint8_t* coefficients = c.coefficients + static_cast<size_t>(firstRow) * c.sourceCount;
  Vec sums[Rows][Vectors];
  SV_UNROLL
  for (int r = 0; r < Rows; ++r) {
    SV_UNROLL
    for (int v = 0; v < Vectors; ++v) {
      sums[r][v] =
          c.accumulate ? V::Load(c.targets[firstRow + r] + offset + v * V::kBytes) : V::Zero();
    }
  }
  const Vec mask = V::NibbleMask();
  for (int j = 0; j < c.sourceCount; ++j) {
    const uint8_t* source = c.sources[j] + offset;
    Vec low[Vectors];
    Vec high[Vectors];
    SV_UNROLL
    for (int v = 0; v < Vectors; ++v) {
      const Vec bytes = V::Load(source + v * V::kBytes);
      low[v] = V::And(bytes, mask);
      high[v] = V::And(V::ShiftRight4(bytes), mask);
    }
    SV_UNROLL
    for (int r = 0; r < Rows; ++r) {
      const uint8_t* table =
          tables + coefficients[static_cast<size_t>(r) * c.sourceCount + j] * kNibbleTableBytes;
      const Vec lowTable = V::Load(table);
      const Vec highTable = V::Load(table + kHighNibbleOffset);
      SV_UNROLL
      for (int v = 0; v < Vectors; ++v) {
        sums[r][v] =
            V::Xor(sums[r][v], V::Xor(V::Lookup(lowTable, low[v]), V::Lookup(highTable, high[v])));
      }
    }
  }
  SV_UNROLL
  for (int r = 0; r < Rows; ++r) {
    SV_UNROLL
    for (int v = 0; v < Vectors; ++v)
      V::Store(c.targets[firstRow + r] + offset + v * V::kBytes, sums[r][v]);
  }
}

template <typename V, int Vectors>
inline void CombineAllRows(const Combination& c, size_t offset) {
  int r = 0;
  for (; r + kMaxRowsPerPass <= c.rows; r += kMaxRowsPerPass)
    CombineStripe<V, kMaxRowsPerPass, Vectors>(c, r, offset);
  switch (c.rows - r) {
    case 3:
      CombineStripe<V, 3, Vectors>(c, r, offset);
      break;
    case 2:
      CombineStripe<V, 2, Vectors>(c, r, offset);
      break;
    case 1:
      CombineStripe<V, 1, Vectors>(c, r, offset);
      break;
    default:
      break;
  }
}

// One row whose coefficients are all 1 (the code's first recovery row) is a plain XOR.
inline bool IsPlainSum(const Combination& c) {
  if (c.rows != 1)
    return false;
  for (int j = 0; j < c.sourceCount; ++j) {
    if (c.coefficients[j] != 1)
      return false;
  }
  return true;
}

template <typename V, int Vectors>
inline void SumStripe(const Combination& c, size_t offset) {
  using Vec = typename V::Vec;
  uint8_t* target = c.targets[0] + offset;
  Vec sums[Vectors];
  SV_UNROLL
  for (int v = 0; v < Vectors; ++v)
    sums[v] = c.accumulate ? V::Load(target + v * V::kBytes) : V::Zero();
  for (int j = 0; j < c.sourceCount; ++j) {
    SV_UNROLL
    for (int v = 0; v < Vectors; ++v)
      sums[v] = V::Xor(sums[v], V::Load(c.sources[j] + offset + v * V::kBytes));
  }
  SV_UNROLL
  for (int v = 0; v < Vectors; ++v)
    V::Store(target + v * V::kBytes, sums[v]);
}

// Stripes of four registers for the plain sum and of two for the products, then single
// registers; the bytes left over (fewer than one register) are the caller's.
template <typename V>
size_t CombineVectors(const Combination& c) {
  const size_t whole = c.bytes - c.bytes % V::kBytes;
  size_t offset = 0;
  if (IsPlainSum(c)) {
    for (; offset + 4 * V::kBytes <= whole; offset += 4 * V::kBytes)
      SumStripe<V, 4>(c, offset);
    for (; offset < whole; offset += V::kBytes)
      SumStripe<V, 1>(c, offset);
    return whole;
  }
  for (; offset + 2 * V::kBytes <= whole; offset += 2 * V::kBytes)
    CombineAllRows<V, 2>(c, offset);
  for (; offset < whole; offset += V::kBytes)
    CombineAllRows<V, 1>(c, offset);
  return whole;
}

}  // namespace Sorvane::fec::simd
