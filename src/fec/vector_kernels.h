#pragma once
#include <cstddef>

#include "fec/row_combine.h"

// The per-instruction-set kernels (x86-64 builds only); each runs only where the processor has
// its instructions.
namespace Sorvane::fec {

size_t CombineSsse3(const Combination& combination);
size_t CombineAvx2(const Combination& combination);

}  // namespace Sorvane::fec
