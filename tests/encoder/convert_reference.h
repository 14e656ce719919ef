#pragma once
#include <cstdint>

// The BGRA → NV12 formulas written out plainly, one pixel and one block at a time: the reference
// every faster conversion must match byte for byte.
namespace Sorvane::reference {

inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline void ConvertBgraToNv12(const uint8_t* src, int stride, uint8_t* y, uint8_t* uv, int w,
                              int h) {
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const uint8_t* p = src + static_cast<size_t>(r) * stride + 4 * c;
      y[static_cast<size_t>(r) * w + c] =
          static_cast<uint8_t>(Clamp255(((47 * p[2] + 157 * p[1] + 16 * p[0] + 128) >> 8) + 16));
    }
  }
  for (int j = 0; j < h / 2; ++j) {
    for (int i = 0; i < w / 2; ++i) {
      int s[3] = {0, 0, 0};
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const uint8_t* p = src + static_cast<size_t>(2 * j + dy) * stride + 4 * (2 * i + dx);
          for (int k = 0; k < 3; ++k)
            s[k] += p[k];
        }
      }
      const int b = s[0] >> 2, g = s[1] >> 2, r = s[2] >> 2;
      uv[static_cast<size_t>(j) * w + 2 * i] =
          static_cast<uint8_t>(Clamp255(((-26 * r - 87 * g + 112 * b + 128) >> 8) + 128));
      uv[static_cast<size_t>(j) * w + 2 * i + 1] =
          static_cast<uint8_t>(Clamp255(((112 * r - 102 * g - 10 * b + 128) >> 8) + 128));
    }
  }
}

}  // namespace Sorvane::reference
