// Compiled with SSSE3 enabled; called only when the processor has it.
#include <tmmintrin.h>

#include "fec/row_combine_simd.h"
#include "fec/vector_kernels.h"

namespace Sorvane::fec {
namespace {

struct Ssse3 {
  using Vec = __m128i;
  static constexpr size_t kBytes = 16;
  static Vec Zero() { return _mm_setzero_si128(); }
  static Vec Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const Vec*>(p)); }
  static void Store(uint8_t* p, Vec v) { _mm_storeu_si128(reinterpret_cast<Vec*>(p), v); }
  static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec ShiftRight4(Vec v) { return _mm_srli_epi64(v, 4); }
  static Vec NibbleMask() { return _mm_set1_epi8(0x0F); }
  static Vec Lookup(Vec table, Vec index) { return _mm_shuffle_epi8(table, index); }
};

}  // namespace

size_t CombineSsse3(const Combination& combination) {
  return simd::CombineVectors<Ssse3>(combination);
}

}  // namespace Sorvane::fec
