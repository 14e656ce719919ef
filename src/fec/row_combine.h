#pragma once
#include <cstddef>
#include <cstdint>

// Linear combinations of byte rows over GF(256): every encode and decode step of the erasure
// code is one. Several kernels compute the same bytes; they differ only in speed.
namespace Sorvane::fec {

enum class SimdLevel : int { Scalar = 0, Ssse3 = 1, Avx2 = 2 };

// targets[r] = Σ_j coefficients[r × sourceCount + j] · sources[j], over `bytes` bytes; with
// `accumulate` the sum is added to what the targets hold. Targets never alias sources.
struct Combination {
  const uint8_t* const* sources = nullptr;
  int sourceCount = 0;
  const uint8_t* coefficients = nullptr;  // rows × sourceCount, row by row
  uint8_t* const* targets = nullptr;
  int rows = 0;
  size_t bytes = 0;
  bool accumulate = false;
};

// Computes the leading bytes of a combination with vector instructions and returns how many it
// did; the caller finishes the rest with the scalar kernel.
using VectorCombineKernel = size_t (*)(const Combination& combination);

// The best level this processor and build support (decided once).
SimdLevel BestSimdLevel();
// The vector kernel of a level, or null when this processor or build has none for it.
VectorCombineKernel VectorKernelFor(SimdLevel level);

// The plain kernel over bytes [begin, end) of every row.
void CombineScalar(const Combination& combination, size_t begin, size_t end);

// The whole combination at the given level (at the best level when omitted). A level the
// processor lacks falls back to the plain kernel.
void Combine(const Combination& combination, SimdLevel level);
void Combine(const Combination& combination);

}  // namespace Sorvane::fec
