#include "fec/row_combine.h"
#include "fec/vector_kernels.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace Sorvane::fec {
namespace {

// AVX2 also needs the system to save the 256-bit registers (OSXSAVE and XCR0); GCC's and
// Clang's check includes that.
bool AskProcessor(SimdLevel level) {
#if defined(_MSC_VER) && !defined(__clang__)
  int info[4];
  __cpuid(info, 1);
  if (level == SimdLevel::Ssse3)
    return (info[2] & (1 << 9)) != 0;
  const bool systemSavesYmm = (info[2] & (1 << 27)) != 0 && (_xgetbv(0) & 6) == 6;
  __cpuidex(info, 7, 0);
  return systemSavesYmm && (info[1] & (1 << 5)) != 0;
#else
  __builtin_cpu_init();
  return level == SimdLevel::Ssse3 ? __builtin_cpu_supports("ssse3")
                                   : __builtin_cpu_supports("avx2");
#endif
}

bool ProcessorHas(SimdLevel level) {
  static const bool ssse3 = AskProcessor(SimdLevel::Ssse3);
  static const bool avx2 = AskProcessor(SimdLevel::Avx2);
  return level == SimdLevel::Avx2 ? avx2 : level == SimdLevel::Ssse3 && ssse3;
}

}  // namespace

VectorCombineKernel VectorKernelFor(SimdLevel level) {
  switch (level) {
    case SimdLevel::Avx2:
      return ProcessorHas(level) ? &CombineAvx2 : nullptr;
    case SimdLevel::Ssse3:
      return ProcessorHas(level) ? &CombineSsse3 : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace Sorvane::fec
