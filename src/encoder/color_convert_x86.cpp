// SSSE3 and AVX2 row-pair kernels for the BGRA → 4:2:0 conversion, chosen at run time.
//
// Exactness: every intermediate fits 16 bits.
// - Luma: pmaddubsw gives 16B − 99G (the signed byte cannot hold 157) and 47R; adding G << 8
//   (an AND of the pixel) makes 16B + 157G, and the pair sum plus 128 + (16 << 8) stays below
//   65 536, so wrapping 16-bit adds and one logical shift give ((… + 128) >> 8) + 16 exactly.
// - Chroma: 2 × 2 sums (≤ 1020) >> 2 are the averages; their U and V weights all fit a signed
//   byte, partial sums stay within ±28 815, and (sum + 128 + (128 << 8)) >> 8 is
//   ((sum + 128) >> 8) + 128 computed on a non-negative value.
#include "encoder/color_convert_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#define SV_X86 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif
#endif

// mingw-w64's GCC does not keep the stack 32-byte aligned for spilled AVX registers (GCC bug
// 54412), so that build stops at SSSE3.
#if defined(SV_X86) && !defined(__MINGW32__)
#define SV_AVX2_KERNEL 1
#endif

#if defined(__GNUC__) || defined(__clang__)
#define SV_TARGET(t) __attribute__((target(t)))
#else
#define SV_TARGET(t)
#endif

namespace Sorvane::convert {

#if defined(SV_X86)
namespace {

// Four signed byte weights for the B, G, R and A bytes of a pixel, as one 32-bit lane.
constexpr int32_t Weights(int b, int g, int r, int a) {
  return static_cast<int32_t>((b & 0xFF) | ((g & 0xFF) << 8) | ((r & 0xFF) << 16) |
                              (static_cast<uint32_t>(a & 0xFF) << 24));
}

constexpr int32_t kLumaWeights = Weights(16, -99, 47, 0);
constexpr int32_t kLumaGMask = 0x0000FF00;
constexpr int16_t kLumaBias = 128 + (16 << 8);
constexpr int32_t kUWeights = Weights(112, -87, -26, 0);
constexpr int32_t kVWeights = Weights(-10, -102, 112, 0);
constexpr int16_t kChromaBias = static_cast<int16_t>(128 + (128 << 8));

SV_TARGET("ssse3") inline __m128i LumaWords4(__m128i px, __m128i weights, __m128i gMask) {
  return _mm_add_epi16(_mm_maddubs_epi16(px, weights), _mm_and_si128(px, gMask));
}

// Luma of 16 pixels.
SV_TARGET("ssse3") inline __m128i Luma16(const uint8_t* p) {
  const __m128i weights = _mm_set1_epi32(kLumaWeights);
  const __m128i gMask = _mm_set1_epi32(kLumaGMask);
  const __m128i bias = _mm_set1_epi16(kLumaBias);
  const __m128i* s = reinterpret_cast<const __m128i*>(p);
  const __m128i w0 = LumaWords4(_mm_loadu_si128(s), weights, gMask);
  const __m128i w1 = LumaWords4(_mm_loadu_si128(s + 1), weights, gMask);
  const __m128i w2 = LumaWords4(_mm_loadu_si128(s + 2), weights, gMask);
  const __m128i w3 = LumaWords4(_mm_loadu_si128(s + 3), weights, gMask);
  const __m128i y0 = _mm_srli_epi16(_mm_add_epi16(_mm_hadd_epi16(w0, w1), bias), 8);
  const __m128i y1 = _mm_srli_epi16(_mm_add_epi16(_mm_hadd_epi16(w2, w3), bias), 8);
  return _mm_packus_epi16(y0, y1);
}

// Per-channel averages of two 2 × 2 blocks (4 pixels of each row) as 16-bit B, G, R, A.
SV_TARGET("ssse3") inline __m128i BlockAverages2(const uint8_t* top, const uint8_t* bottom) {
  const __m128i pairUp = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m128i ones = _mm_set1_epi8(1);
  const __m128i t =
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top)), pairUp);
  const __m128i b =
      _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom)), pairUp);
  const __m128i sums = _mm_add_epi16(_mm_maddubs_epi16(t, ones), _mm_maddubs_epi16(b, ones));
  return _mm_srli_epi16(sums, 2);
}

// U and V words of 8 blocks from their averages packed as bytes (two registers of 4 blocks).
SV_TARGET("ssse3") inline void ChromaWords8(__m128i avgA, __m128i avgB, __m128i* u, __m128i* v) {
  const __m128i uWeights = _mm_set1_epi32(kUWeights);
  const __m128i vWeights = _mm_set1_epi32(kVWeights);
  const __m128i bias = _mm_set1_epi16(kChromaBias);
  const __m128i uSum =
      _mm_hadd_epi16(_mm_maddubs_epi16(avgA, uWeights), _mm_maddubs_epi16(avgB, uWeights));
  const __m128i vSum =
      _mm_hadd_epi16(_mm_maddubs_epi16(avgA, vWeights), _mm_maddubs_epi16(avgB, vWeights));
  *u = _mm_srli_epi16(_mm_add_epi16(uSum, bias), 8);
  *v = _mm_srli_epi16(_mm_add_epi16(vSum, bias), 8);
}

SV_TARGET("ssse3") int PairSsse3(const RowPair& rows, int width) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const uint8_t* top = rows.top + 4 * x;
    const uint8_t* bottom = rows.bottom + 4 * x;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.yTop + x), Luma16(top));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.yBottom + x), Luma16(bottom));
    const __m128i a0 = BlockAverages2(top, bottom);
    const __m128i a1 = BlockAverages2(top + 16, bottom + 16);
    const __m128i a2 = BlockAverages2(top + 32, bottom + 32);
    const __m128i a3 = BlockAverages2(top + 48, bottom + 48);
    __m128i u, v;
    ChromaWords8(_mm_packus_epi16(a0, a1), _mm_packus_epi16(a2, a3), &u, &v);
    if (rows.uv != nullptr) {
      const __m128i uv = _mm_packus_epi16(_mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.uv + x), uv);
    } else {
      const __m128i planes = _mm_packus_epi16(u, v);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.u + x / 2), planes);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.v + x / 2), _mm_srli_si128(planes, 8));
    }
  }
  return x;
}

#if defined(SV_AVX2_KERNEL)
// In 256-bit registers the pack and horizontal-add instructions work per 128-bit lane; one
// permute per output puts the lanes back in order (dword order 0, 4, 1, 5, 2, 6, 3, 7).
SV_TARGET("avx2") inline __m256i LaneOrder(__m256i x) {
  return _mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

SV_TARGET("avx2") inline __m256i LumaWords8(__m256i px, __m256i weights, __m256i gMask) {
  return _mm256_add_epi16(_mm256_maddubs_epi16(px, weights), _mm256_and_si256(px, gMask));
}

// Luma of 32 pixels.
SV_TARGET("avx2") inline __m256i Luma32(const uint8_t* p) {
  const __m256i weights = _mm256_set1_epi32(kLumaWeights);
  const __m256i gMask = _mm256_set1_epi32(kLumaGMask);
  const __m256i bias = _mm256_set1_epi16(kLumaBias);
  const __m256i* s = reinterpret_cast<const __m256i*>(p);
  const __m256i w0 = LumaWords8(_mm256_loadu_si256(s), weights, gMask);
  const __m256i w1 = LumaWords8(_mm256_loadu_si256(s + 1), weights, gMask);
  const __m256i w2 = LumaWords8(_mm256_loadu_si256(s + 2), weights, gMask);
  const __m256i w3 = LumaWords8(_mm256_loadu_si256(s + 3), weights, gMask);
  const __m256i y0 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_hadd_epi16(w0, w1), bias), 8);
  const __m256i y1 = _mm256_srli_epi16(_mm256_add_epi16(_mm256_hadd_epi16(w2, w3), bias), 8);
  return LaneOrder(_mm256_packus_epi16(y0, y1));
}

// Averages of four 2 × 2 blocks (8 pixels of each row), in block order across the lanes.
SV_TARGET("avx2") inline __m256i BlockAverages4(const uint8_t* top, const uint8_t* bottom) {
  const __m256i pairUp = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15, 0,
                                          4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i t =
      _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(top)), pairUp);
  const __m256i b =
      _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom)), pairUp);
  const __m256i sums =
      _mm256_add_epi16(_mm256_maddubs_epi16(t, ones), _mm256_maddubs_epi16(b, ones));
  return _mm256_srli_epi16(sums, 2);
}

// Two registers of four blocks' averages packed into bytes of eight blocks in order.
SV_TARGET("avx2") inline __m256i PackBlocks(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

SV_TARGET("avx2") int PairAvx2(const RowPair& rows, int width) {
  const __m256i uWeights = _mm256_set1_epi32(kUWeights);
  const __m256i vWeights = _mm256_set1_epi32(kVWeights);
  const __m256i bias = _mm256_set1_epi16(kChromaBias);
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const uint8_t* top = rows.top + 4 * x;
    const uint8_t* bottom = rows.bottom + 4 * x;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows.yTop + x), Luma32(top));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows.yBottom + x), Luma32(bottom));
    // Blocks 0–7 and 8–15, each register in block order.
    const __m256i blocksA =
        PackBlocks(BlockAverages4(top, bottom), BlockAverages4(top + 32, bottom + 32));
    const __m256i blocksB =
        PackBlocks(BlockAverages4(top + 64, bottom + 64), BlockAverages4(top + 96, bottom + 96));
    const __m256i uSum = _mm256_hadd_epi16(_mm256_maddubs_epi16(blocksA, uWeights),
                                           _mm256_maddubs_epi16(blocksB, uWeights));
    const __m256i vSum = _mm256_hadd_epi16(_mm256_maddubs_epi16(blocksA, vWeights),
                                           _mm256_maddubs_epi16(blocksB, vWeights));
    // Lane 0 holds blocks 0–3 and 8–11, lane 1 blocks 4–7 and 12–15.
    const __m256i u = _mm256_srli_epi16(_mm256_add_epi16(uSum, bias), 8);
    const __m256i v = _mm256_srli_epi16(_mm256_add_epi16(vSum, bias), 8);
    if (rows.uv != nullptr) {
      const __m256i uv =
          _mm256_packus_epi16(_mm256_unpacklo_epi16(u, v), _mm256_unpackhi_epi16(u, v));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(rows.uv + x),
                          _mm256_permute4x64_epi64(uv, 0xD8));
    } else {
      const __m256i planes = LaneOrder(_mm256_packus_epi16(u, v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.u + x / 2), _mm256_castsi256_si128(planes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.v + x / 2),
                       _mm256_extracti128_si256(planes, 1));
    }
  }
  return x;
}
#endif  // SV_AVX2_KERNEL

bool CpuHas(SimdLevel level) {
#if defined(_MSC_VER) && !defined(__clang__)
  int info[4];
  __cpuid(info, 1);
  const bool ssse3 = (info[2] & (1 << 9)) != 0;
  if (level == SimdLevel::Ssse3)
    return ssse3;
  const bool osAvx =
      (info[2] & (1 << 27)) != 0 && (info[2] & (1 << 28)) != 0 && (_xgetbv(0) & 6) == 6;
  __cpuidex(info, 7, 0);
  return osAvx && (info[1] & (1 << 5)) != 0;
#else
  __builtin_cpu_init();
  if (level == SimdLevel::Ssse3)
    return __builtin_cpu_supports("ssse3");
  return __builtin_cpu_supports("avx2");
#endif
}

}  // namespace

SimdLevel DetectSimdLevel() {
#if defined(SV_AVX2_KERNEL)
  if (CpuHas(SimdLevel::Avx2))
    return SimdLevel::Avx2;
#endif
  return CpuHas(SimdLevel::Ssse3) ? SimdLevel::Ssse3 : SimdLevel::Scalar;
}

PairKernel PairKernelFor(SimdLevel level) {
  switch (level) {
#if defined(SV_AVX2_KERNEL)
    case SimdLevel::Avx2:
      return CpuHas(SimdLevel::Avx2) ? &PairAvx2 : nullptr;
#endif
    case SimdLevel::Ssse3:
      return CpuHas(SimdLevel::Ssse3) ? &PairSsse3 : nullptr;
    default:
      return nullptr;
  }
}

#else  // not x86-64: the scalar formulas only

SimdLevel DetectSimdLevel() {
  return SimdLevel::Scalar;
}

PairKernel PairKernelFor(SimdLevel) {
  return nullptr;
}

#endif

}  // namespace Sorvane::convert
