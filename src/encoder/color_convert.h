#pragma once
#include <cstdint>

namespace Sorvane {

// BGRA → NV12, BT.709 limited range in Q8 fixed point. Luma plane of W × H bytes (pitch W), then
// the interleaved chroma plane of H/2 rows of W bytes (U, V pairs), each from the truncating
// 2 × 2 average of R, G and B. An odd last column or row contributes to luma only.
void ConvertCpu(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
                int height);

// Nearest-neighbour scaling of 4-byte pixels: destination (x, y) reads source column
// trunc((x + 0.5) × (srcW / dstW)) and row trunc((y + 0.5) × (srcH / dstH)).
void ScaleNearest(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst,
                  int dstStride, int dstW, int dstH);

}  // namespace Sorvane
