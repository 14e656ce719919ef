#pragma once
#include <cstdint>

// The row kernels behind ConvertCpu and the choice among them. Every kernel writes exactly the
// bytes of the scalar formulas; they differ only in speed.
namespace Sorvane::convert {

enum class SimdLevel : int { Scalar = 0, Ssse3 = 1, Avx2 = 2 };

// Where one pair of source rows goes: two luma rows and one chroma row, interleaved (uv) or
// planar (u and v).
struct RowPair {
  const uint8_t* top;
  const uint8_t* bottom;
  uint8_t* yTop;
  uint8_t* yBottom;
  uint8_t* uv;  // NV12 chroma row, or null
  uint8_t* u;   // planar chroma rows, used when uv is null
  uint8_t* v;
};

// Converts a leading run of `width` (even) pixels of a row pair and returns how many it did: a
// multiple of its step; the caller finishes the rest with the scalar kernel.
using PairKernel = int (*)(const RowPair& rows, int width);

// The best level this processor and build support.
SimdLevel DetectSimdLevel();
// The pair kernel of a level; null when this build has none for it.
PairKernel PairKernelFor(SimdLevel level);

// Scalar formulas, also the tail of every vector kernel.
void ScalarLuma(const uint8_t* src, uint8_t* dst, int begin, int end);
void ScalarChroma(const RowPair& rows, int beginPair, int endPair);

// The converter at a chosen level (tests compare every level with the reference).
void ConvertAt(SimdLevel level, const uint8_t* src, int srcStride, uint8_t* dstY, int yStride,
               uint8_t* dstUV, int uvStride, uint8_t* dstU, int uStride, uint8_t* dstV, int vStride,
               int width, int height);

}  // namespace Sorvane::convert
