// Compiled with AVX2 enabled; called only when the processor and the system support it.
#include <immintrin.h>

#include "fec/row_combine_simd.h"
#include "fec/vector_kernels.h"

namespace Sorvane::fec {
namespace {

// The nibble tables repeat each 16-byte run, so vpshufb's per-lane lookup needs no broadcast.
struct Avx2 {
  using Vec = __m256i;
  static constexpr size_t kBytes = 32;
  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p)); }
  static void Store(uint8_t* p, Vec v) { _mm256_storeu_si256(reinterpret_cast<Vec*>(p), v); }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec ShiftRight4(Vec v) { return _mm256_srli_epi64(v, 4); }
  static Vec NibbleMask() { return _mm256_set1_epi8(0x0F); }
  static Vec Lookup(Vec table, Vec index) { return _mm256_shuffle_epi8(table, index); }
};

}  // namespace

size_t CombineAvx2(const Combination& combination) {
  return simd::CombineVectors<Avx2>(combination);
}

}  // namespace Sorvane::fec
