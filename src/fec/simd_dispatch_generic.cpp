#include "fec/row_combine.h"

// Processors other than x86-64 use the plain kernel.
namespace Sorvane::fec {

VectorCombineKernel VectorKernelFor(SimdLevel) {
  return nullptr;
}

}  // namespace Sorvane::fec
