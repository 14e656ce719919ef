#include "encoder/color_convert.h"

#include <cstring>
#include <vector>

#include "encoder/bt709_q8.h"
#include "encoder/color_convert_kernels.h"

namespace Sorvane {
namespace convert {
namespace {

using bt709::kCbB;
using bt709::kCbG;
using bt709::kCbR;
using bt709::kCrB;
using bt709::kCrG;
using bt709::kCrR;
using bt709::kYB;
using bt709::kYG;
using bt709::kYR;

inline uint8_t Clamp255(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

SimdLevel ChosenLevel() {
  static const SimdLevel level = DetectSimdLevel();
  return level;
}

}  // namespace

// Y never falls below 16 and the largest sum keeps it at 235, so no clamp is needed.
void ScalarLuma(const uint8_t* src, uint8_t* dst, int begin, int end) {
  for (int x = begin; x < end; ++x) {
    const int b = src[4 * x], g = src[4 * x + 1], r = src[4 * x + 2];
    dst[x] = static_cast<uint8_t>(((kYR * r + kYG * g + kYB * b + 128) >> 8) + 16);
  }
}

void ScalarChroma(const RowPair& rows, int beginPair, int endPair) {
  for (int i = beginPair; i < endPair; ++i) {
    const uint8_t* a = rows.top + 8 * i;
    const uint8_t* c = rows.bottom + 8 * i;
    const int b = (a[0] + a[4] + c[0] + c[4]) >> 2;
    const int g = (a[1] + a[5] + c[1] + c[5]) >> 2;
    const int r = (a[2] + a[6] + c[2] + c[6]) >> 2;
    const uint8_t u = Clamp255(((kCbR * r + kCbG * g + kCbB * b + 128) >> 8) + 128);
    const uint8_t v = Clamp255(((kCrR * r + kCrG * g + kCrB * b + 128) >> 8) + 128);
    if (rows.uv != nullptr) {
      rows.uv[2 * i] = u;
      rows.uv[2 * i + 1] = v;
    } else {
      rows.u[i] = u;
      rows.v[i] = v;
    }
  }
}

void ConvertAt(SimdLevel level, const uint8_t* src, int srcStride, uint8_t* dstY, int yStride,
               uint8_t* dstUV, int uvStride, uint8_t* dstU, int uStride, uint8_t* dstV, int vStride,
               int width, int height) {
  const PairKernel kernel = PairKernelFor(level);
  const int evenWidth = width & ~1;
  const int pairs = width / 2;
  for (int j = 0; j < height / 2; ++j) {
    RowPair rows{};
    rows.top = src + static_cast<size_t>(2 * j) * srcStride;
    rows.bottom = rows.top + srcStride;
    rows.yTop = dstY + static_cast<size_t>(2 * j) * yStride;
    rows.yBottom = rows.yTop + yStride;
    if (dstUV != nullptr) {
      rows.uv = dstUV + static_cast<size_t>(j) * uvStride;
    } else {
      rows.u = dstU + static_cast<size_t>(j) * uStride;
      rows.v = dstV + static_cast<size_t>(j) * vStride;
    }
    const int done = kernel != nullptr ? kernel(rows, evenWidth) : 0;
    ScalarLuma(rows.top, rows.yTop, done, width);
    ScalarLuma(rows.bottom, rows.yBottom, done, width);
    ScalarChroma(rows, done / 2, pairs);
  }
  if (height % 2 == 1) {
    const int last = height - 1;
    ScalarLuma(src + static_cast<size_t>(last) * srcStride,
               dstY + static_cast<size_t>(last) * yStride, 0, width);
  }
}

}  // namespace convert

void ConvertCpu(const uint8_t* src, int srcStride, uint8_t* dstY, uint8_t* dstUV, int width,
                int height) {
  ConvertCpuNv12(src, srcStride, dstY, width, dstUV, width, width, height);
}

void ConvertCpuNv12(const uint8_t* src, int srcStride, uint8_t* dstY, int yStride, uint8_t* dstUV,
                    int uvStride, int width, int height) {
  if (src == nullptr || dstY == nullptr || dstUV == nullptr || width < 1 || height < 1)
    return;
  convert::ConvertAt(convert::ChosenLevel(), src, srcStride, dstY, yStride, dstUV, uvStride,
                     nullptr, 0, nullptr, 0, width, height);
}

void ConvertCpuI420(const uint8_t* src, int srcStride, uint8_t* dstY, int yStride, uint8_t* dstU,
                    int uStride, uint8_t* dstV, int vStride, int width, int height) {
  if (src == nullptr || dstY == nullptr || dstU == nullptr || dstV == nullptr || width < 1 ||
      height < 1)
    return;
  convert::ConvertAt(convert::ChosenLevel(), src, srcStride, dstY, yStride, nullptr, 0, dstU,
                     uStride, dstV, vStride, width, height);
}

void ScaleNearest(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst,
                  int dstStride, int dstW, int dstH) {
  if (src == nullptr || dst == nullptr || srcW < 1 || srcH < 1 || dstW < 1 || dstH < 1)
    return;
  const double ratioX = static_cast<double>(srcW) / dstW;
  const double ratioY = static_cast<double>(srcH) / dstH;
  std::vector<int> columns(static_cast<size_t>(dstW));
  for (int x = 0; x < dstW; ++x) {
    const int column = static_cast<int>((x + 0.5) * ratioX);
    columns[x] = column < srcW ? column : srcW - 1;
  }
  int previousRow = -1;
  for (int y = 0; y < dstH; ++y) {
    int sourceRow = static_cast<int>((y + 0.5) * ratioY);
    sourceRow = sourceRow < srcH ? sourceRow : srcH - 1;
    uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
    if (sourceRow == previousRow) {
      // Upscaling repeats rows: copy the one just built.
      std::memcpy(out, out - dstStride, static_cast<size_t>(dstW) * 4);
      continue;
    }
    const uint8_t* row = src + static_cast<size_t>(sourceRow) * srcStride;
    for (int x = 0; x < dstW; ++x)
      std::memcpy(out + 4 * x, row + 4 * columns[x], 4);
    previousRow = sourceRow;
  }
}

}  // namespace Sorvane
