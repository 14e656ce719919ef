#include "encoder/color_convert.h"

#include <cstring>
#include <vector>

namespace Sorvane {
namespace {

// Q8 BT.709 limited-range coefficients.
constexpr int kYR = 47, kYG = 157, kYB = 16;
constexpr int kCbR = -26, kCbG = -87, kCbB = 112;
constexpr int kCrR = 112, kCrG = -102, kCrB = -10;

inline uint8_t Clamp255(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One luma row. Y never falls below 16, and the largest sum keeps it at 235, so no clamp is
// needed; the plain loop vectorises.
void LumaRow(const uint8_t* __restrict src, uint8_t* __restrict dst, int width) {
  for (int x = 0; x < width; ++x) {
    const int b = src[4 * x], g = src[4 * x + 1], r = src[4 * x + 2];
    dst[x] = static_cast<uint8_t>(((kYR * r + kYG * g + kYB * b + 128) >> 8) + 16);
  }
}

// One chroma row from two source rows.
void ChromaRow(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
               uint8_t* __restrict dst, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const uint8_t* a = top + 8 * i;
    const uint8_t* c = bottom + 8 * i;
    const int b = (a[0] + a[4] + c[0] + c[4]) >> 2;
    const int g = (a[1] + a[5] + c[1] + c[5]) >> 2;
    const int r = (a[2] + a[6] + c[2] + c[6]) >> 2;
    dst[2 * i] = Clamp255(((kCbR * r + kCbG * g + kCbB * b + 128) >> 8) + 128);
    dst[2 * i + 1] = Clamp255(((kCrR * r + kCrG * g + kCrB * b + 128) >> 8) + 128);
  }
}

}  // namespace

void ConvertCpu(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
                int height) {
  if (src == nullptr || dstY == nullptr || dstUV == nullptr || width < 1 || height < 1)
    return;
  for (int y = 0; y < height; ++y) {
    LumaRow(src + static_cast<size_t>(y) * srcStride, dstY + static_cast<size_t>(y) * width, width);
  }
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* top = src + static_cast<size_t>(2 * j) * srcStride;
    ChromaRow(top, top + srcStride, dstUV + static_cast<size_t>(j) * width, width / 2);
  }
}

void ScaleNearest(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst,
                  int dstStride, int dstW, int dstH) {
  if (src == nullptr || dst == nullptr || srcW < 1 || srcH < 1 || dstW < 1 || dstH < 1)
    return;
  const double ratioX = static_cast<double>(srcW) / dstW;
  const double ratioY = static_cast<double>(srcH) / dstH;
  std::vector<int> columns(static_cast<size_t>(dstW));
  for (int x = 0; x < dstW; ++x)
    columns[x] = static_cast<int>((x + 0.5) * ratioX);
  for (int y = 0; y < dstH; ++y) {
    const uint8_t* row =
        src + static_cast<size_t>(static_cast<int>((y + 0.5) * ratioY)) * srcStride;
    uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
    for (int x = 0; x < dstW; ++x)
      std::memcpy(out + 4 * x, row + 4 * columns[x], 4);
  }
}

}  // namespace Sorvane
