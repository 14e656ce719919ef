#include "fec/cauchy_code.h"

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "fec/gf256.h"
#include "fec/nibble_tables.h"

namespace Sorvane::fec {
namespace {

constexpr std::array<uint8_t, 256> BuildInverses() {
  std::array<uint8_t, 256> inverses{};
  for (unsigned a = 0; a < 256; ++a)
    inverses[a] = gf256::Inverse(static_cast<uint8_t>(a));
  return inverses;
}

constexpr std::array<uint8_t, 256> kInverses = BuildInverses();

// Table-driven product: the coefficient matrices are built for every frame.
uint8_t Multiply(uint8_t a, uint8_t b) {
  const uint8_t* table = NibbleTables() + a * kNibbleTableBytes;
  return table[b & 15] ^ table[kHighNibbleOffset + (b >> 4)];
}

// Inverts a size × size matrix (row by row) in place by Gauss-Jordan elimination; false when it
// is singular, which a Cauchy submatrix never is.
bool Invert(std::vector<uint8_t>& m, int size) {
  const auto at = [size](int row, int column) { return static_cast<size_t>(row) * size + column; };
  std::vector<uint8_t> inverse(m.size(), 0);
  for (int i = 0; i < size; ++i)
    inverse[at(i, i)] = 1;
  for (int column = 0; column < size; ++column) {
    int pivot = column;
    while (pivot < size && m[at(pivot, column)] == 0)
      ++pivot;
    if (pivot == size)
      return false;
    for (int k = 0; k < size; ++k) {
      std::swap(m[at(pivot, k)], m[at(column, k)]);
      std::swap(inverse[at(pivot, k)], inverse[at(column, k)]);
    }
    const uint8_t scale = kInverses[m[at(column, column)]];
    for (int k = 0; k < size; ++k) {
      m[at(column, k)] = Multiply(scale, m[at(column, k)]);
      inverse[at(column, k)] = Multiply(scale, inverse[at(column, k)]);
    }
    for (int row = 0; row < size; ++row) {
      const uint8_t factor = m[at(row, column)];
      if (row == column || factor == 0)
        continue;
      for (int k = 0; k < size; ++k) {
        m[at(row, k)] ^= Multiply(factor, m[at(column, k)]);
        inverse[at(row, k)] ^= Multiply(factor, inverse[at(column, k)]);
      }
    }
  }
  m.swap(inverse);
  return true;
}

}  // namespace

bool IsValid(const CodeShape& shape) {
  return shape.originalCount >= 1 && shape.originalCount <= kMaxOriginals &&
         shape.recoveryCount >= 0 && shape.originalCount + shape.recoveryCount <= kMaxBlocks &&
         shape.blockBytes > 0;
}

uint8_t RecoveryCoefficient(int originalCount, int blockIndex, int column) {
  // A Cauchy matrix 1 / (x + y) over x = block index, y = column, with column y scaled by
  // (y + n): every square submatrix stays invertible, and row x = n becomes all ones.
  const auto numerator = static_cast<uint8_t>(column ^ originalCount);
  const auto denominator = static_cast<uint8_t>(blockIndex ^ column);
  return Multiply(numerator, kInverses[denominator]);
}

bool Encode(const CodeShape& shape, const uint8_t* const* originals, uint8_t* recovery) {
  return Encode(shape, originals, recovery, BestSimdLevel());
}

bool Encode(const CodeShape& shape, const uint8_t* const* originals, uint8_t* recovery,
            SimdLevel level) {
  if (!IsValid(shape) || originals == nullptr || (shape.recoveryCount > 0 && recovery == nullptr)) {
    return false;
  }
  const int n = shape.originalCount;
  const int m = shape.recoveryCount;
  for (int i = 0; i < n; ++i) {
    if (originals[i] == nullptr)
      return false;
  }
  if (n == 1) {
    for (int j = 0; j < m; ++j)
      std::memcpy(recovery + j * shape.blockBytes, originals[0], shape.blockBytes);
    return true;
  }
  // Reused per thread: the framer encodes every frame on the encoder's output thread.
  thread_local std::vector<uint8_t> coefficients;
  thread_local std::vector<uint8_t*> targets;
  coefficients.resize(static_cast<size_t>(m) * n);
  targets.resize(static_cast<size_t>(m));
  for (int j = 0; j < m; ++j) {
    targets[j] = recovery + j * shape.blockBytes;
    for (int i = 0; i < n; ++i)
      coefficients[static_cast<size_t>(j) * n + i] = RecoveryCoefficient(n, n + j, i);
  }
  Combine(
      Combination{originals, n, coefficients.data(), targets.data(), m, shape.blockBytes, false},
      level);
  return true;
}

bool Decode(const CodeShape& shape, std::span<Block> blocks) {
  return Decode(shape, blocks, BestSimdLevel());
}

bool Decode(const CodeShape& shape, std::span<Block> blocks, SimdLevel level) {
  if (!IsValid(shape) || blocks.size() != static_cast<size_t>(shape.originalCount))
    return false;
  const int n = shape.originalCount;
  std::array<bool, kMaxBlocks> present{};
  for (const Block& block : blocks) {
    if (block.data == nullptr || block.index < 0 || block.index >= n + shape.recoveryCount ||
        present[block.index]) {
      return false;
    }
    present[block.index] = true;
  }
  if (n == 1) {
    // Every recovery block of a single original is a copy of it.
    blocks[0].index = 0;
    return true;
  }
  std::vector<int> erased;
  for (int i = 0; i < n; ++i) {
    if (!present[i])
      erased.push_back(i);
  }
  if (erased.empty())
    return true;
  std::vector<Block*> recovered;
  std::vector<const uint8_t*> known;
  std::vector<int> knownIndex;
  for (Block& block : blocks) {
    if (block.index >= n) {
      recovered.push_back(&block);
    } else {
      known.push_back(block.data);
      knownIndex.push_back(block.index);
    }
  }
  // The received recovery rows restricted to the missing columns, inverted before anything is
  // written.
  const int r = static_cast<int>(erased.size());
  std::vector<uint8_t> square(static_cast<size_t>(r) * r);
  for (int k = 0; k < r; ++k) {
    for (int e = 0; e < r; ++e)
      square[static_cast<size_t>(k) * r + e] =
          RecoveryCoefficient(n, recovered[k]->index, erased[e]);
  }
  if (!Invert(square, r))
    return false;

  // First take the received originals' share out of each recovery block...
  const int knownCount = static_cast<int>(known.size());
  std::vector<uint8_t*> rows(static_cast<size_t>(r));
  std::vector<uint8_t> knownCoefficients(static_cast<size_t>(r) * knownCount);
  for (int k = 0; k < r; ++k) {
    rows[k] = recovered[k]->data;
    for (int j = 0; j < knownCount; ++j) {
      knownCoefficients[static_cast<size_t>(k) * knownCount + j] =
          RecoveryCoefficient(n, recovered[k]->index, knownIndex[j]);
    }
  }
  if (knownCount > 0) {
    Combine(Combination{known.data(), knownCount, knownCoefficients.data(), rows.data(), r,
                        shape.blockBytes, true},
            level);
  }
  // ...then solve for the missing originals and put them where the recovery blocks were.
  std::vector<uint8_t> solved(static_cast<size_t>(r) * shape.blockBytes);
  std::vector<uint8_t*> solvedRows(static_cast<size_t>(r));
  for (int k = 0; k < r; ++k)
    solvedRows[k] = solved.data() + k * shape.blockBytes;
  std::vector<const uint8_t*> sources(rows.begin(), rows.end());
  Combine(
      Combination{sources.data(), r, square.data(), solvedRows.data(), r, shape.blockBytes, false},
      level);
  for (int k = 0; k < r; ++k) {
    std::memcpy(recovered[k]->data, solvedRows[k], shape.blockBytes);
    recovered[k]->index = erased[k];
  }
  return true;
}

}  // namespace Sorvane::fec
