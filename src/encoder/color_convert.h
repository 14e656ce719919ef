#pragma once
#include <cstdint>

namespace Sorvane {

// BGRA → NV12, BT.709 limited range in Q8 fixed point. Luma plane of W × H bytes (pitch W), then
// the interleaved chroma plane of H/2 rows of W bytes (U, V pairs), each from the truncating
// 2 × 2 average of R, G and B. An odd last column or row contributes to luma only, so the last
// byte of each chroma row stays unwritten for an odd width.
void ConvertCpu(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
                int height);

// The same bytes into planes of any pitch (an encoder's own input frame).
void ConvertCpuNv12(const uint8_t* src, int srcStride, uint8_t* dstY, int yStride, uint8_t* dstUV,
                    int uvStride, int width, int height);

// The same values with the chroma planar (U plane, then V plane), for encoders that take 4:2:0
// planar input.
void ConvertCpuI420(const uint8_t* src, int srcStride, uint8_t* dstY, int yStride, uint8_t* dstU,
                    int uStride, uint8_t* dstV, int vStride, int width, int height);

// Nearest-neighbour scaling of 4-byte pixels: destination (x, y) reads source column
// trunc((x + 0.5) × (srcW / dstW)) and row trunc((y + 0.5) × (srcH / dstH)).
void ScaleNearest(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst,
                  int dstStride, int dstW, int dstH);

}  // namespace Sorvane
