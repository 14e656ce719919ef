#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "encoder/color_convert.h"

namespace Sorvane {
namespace {

// The plain formulas, written out once more as the reference the fast path must match.
int Clamp(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}
void ReferenceConvert(const uint8_t* src, int stride, uint8_t* y, uint8_t* uv, int w, int h) {
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const uint8_t* p = src + r * stride + 4 * c;
      y[r * w + c] =
          static_cast<uint8_t>(Clamp(((47 * p[2] + 157 * p[1] + 16 * p[0] + 128) >> 8) + 16));
    }
  }
  for (int j = 0; j < h / 2; ++j) {
    for (int i = 0; i < w / 2; ++i) {
      int s[3] = {0, 0, 0};
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const uint8_t* p = src + (2 * j + dy) * stride + 4 * (2 * i + dx);
          for (int k = 0; k < 3; ++k)
            s[k] += p[k];
        }
      }
      const int b = s[0] >> 2, g = s[1] >> 2, r = s[2] >> 2;
      uv[j * w + 2 * i] =
          static_cast<uint8_t>(Clamp(((-26 * r - 87 * g + 112 * b + 128) >> 8) + 128));
      uv[j * w + 2 * i + 1] =
          static_cast<uint8_t>(Clamp(((112 * r - 102 * g - 10 * b + 128) >> 8) + 128));
    }
  }
}

struct Planes {
  std::vector<uint8_t> y, uv;
};

Planes Convert(const std::vector<uint8_t>& bgra, int stride, int w, int h, bool reference) {
  Planes out{std::vector<uint8_t>(static_cast<size_t>(w) * h, 0xCD),
             std::vector<uint8_t>(static_cast<size_t>(w) * (h / 2), 0xCD)};
  if (reference) {
    ReferenceConvert(bgra.data(), stride, out.y.data(), out.uv.data(), w, h);
  } else {
    ConvertCpu(bgra.data(), stride, out.y.data(), out.uv.data(), w, h);
  }
  return out;
}

TEST(ConvertCpu, KnownColours) {
  auto solid = [](uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> px(2 * 2 * 4);
    for (int i = 0; i < 4; ++i) {
      px[4 * i] = b;
      px[4 * i + 1] = g;
      px[4 * i + 2] = r;
      px[4 * i + 3] = 255;
    }
    return Convert(px, 8, 2, 2, false);
  };
  const Planes black = solid(0, 0, 0), white = solid(255, 255, 255), red = solid(0, 0, 255);
  EXPECT_EQ(black.y[0], 16);
  EXPECT_EQ(black.uv[0], 128);
  EXPECT_EQ(black.uv[1], 128);
  EXPECT_EQ(white.y[0], 235);
  // The formula floors (−127 >> 8 = −1): white has U 127, V 128.
  EXPECT_EQ(white.uv[0], 127);
  EXPECT_EQ(white.uv[1], 128);
  EXPECT_EQ(red.y[0], 63);

  // Red, green, blue and white average to 127 per channel before chroma is computed.
  const std::vector<uint8_t> mix = {0,   0, 255, 255, 0,   255, 0,   255,
                                    255, 0, 0,   255, 255, 255, 255, 255};
  const Planes m = Convert(mix, 8, 2, 2, false);
  EXPECT_EQ(m.uv[0], ((-26 * 127 - 87 * 127 + 112 * 127 + 128) >> 8) + 128);
  EXPECT_EQ(m.uv[1], ((112 * 127 - 102 * 127 - 10 * 127 + 128) >> 8) + 128);
}

TEST(ConvertCpu, MatchesTheReferenceByteForByteAtManySizes) {
  std::mt19937 rng(11);
  const std::pair<int, int> sizes[] = {{2, 2},  {3, 3},    {16, 16},  {17, 9},    {33, 31},
                                       {64, 2}, {1279, 5}, {1280, 7}, {640, 361}, {1920, 20}};
  for (const auto& [w, h] : sizes) {
    const int stride = w * 4 + 12;  // padded rows
    std::vector<uint8_t> bgra(static_cast<size_t>(stride) * h);
    for (auto& b : bgra)
      b = static_cast<uint8_t>(rng());
    const Planes fast = Convert(bgra, stride, w, h, false);
    const Planes reference = Convert(bgra, stride, w, h, true);
    EXPECT_EQ(fast.y, reference.y) << w << "x" << h;
    EXPECT_EQ(fast.uv, reference.uv) << w << "x" << h;
    if (w % 2 == 1 && h >= 2) {
      EXPECT_EQ(fast.uv[w - 1], 0xCD) << "an odd width leaves the last chroma byte unwritten";
    }
  }
}

TEST(ScaleNearest, SamplesPixelCentres) {
  const int sw = 1280, sh = 720, dw = 1920, dh = 1080;
  std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 4);
  for (int y = 0; y < sh; ++y) {
    for (int x = 0; x < sw; ++x) {
      uint8_t* p = &src[(static_cast<size_t>(y) * sw + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(x >> 8);
      p[2] = static_cast<uint8_t>(y);
      p[3] = static_cast<uint8_t>(y >> 8);
    }
  }
  std::vector<uint8_t> dst(static_cast<size_t>(dw) * dh * 4);
  ScaleNearest(src.data(), sw * 4, sw, sh, dst.data(), dw * 4, dw, dh);
  auto column = [&](int x, int y) {
    const uint8_t* p = &dst[(static_cast<size_t>(y) * dw + x) * 4];
    return p[0] | (p[1] << 8);
  };
  auto row = [&](int x, int y) {
    const uint8_t* p = &dst[(static_cast<size_t>(y) * dw + x) * 4];
    return p[2] | (p[3] << 8);
  };
  EXPECT_EQ(column(0, 0), 0);
  EXPECT_EQ(column(1919, 0), 1279);
  EXPECT_EQ(column(1, 0), 1);  // trunc(1.5 × 0.666…) = 1
  EXPECT_EQ(row(0, 1079), 719);
  EXPECT_EQ(row(0, 2), 1);
}

}  // namespace
}  // namespace Sorvane
