#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "encoder/color_convert.h"
#include "encoder/color_convert_kernels.h"
#include "encoder/convert_reference.h"

namespace Sorvane {
namespace {

struct Planes {
  std::vector<uint8_t> y, uv;
};

Planes Convert(const std::vector<uint8_t>& bgra, int stride, int w, int h, bool reference) {
  Planes out{std::vector<uint8_t>(static_cast<size_t>(w) * h, 0xCD),
             std::vector<uint8_t>(static_cast<size_t>(w) * (h / 2), 0xCD)};
  if (reference) {
    reference::ConvertBgraToNv12(bgra.data(), stride, out.y.data(), out.uv.data(), w, h);
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

// Every vector level this processor runs, into NV12 and planar 4:2:0 with padded pitches,
// against the reference; the sizes cover each kernel's step, its tail and odd edges.
TEST(ConvertCpu, EveryLevelAndLayoutMatchesTheReference) {
  using convert::SimdLevel;
  std::mt19937 rng(29);
  const std::pair<int, int> sizes[] = {{2, 2},   {16, 2},  {31, 3},   {32, 2},  {33, 5},
                                       {47, 4},  {63, 63}, {64, 8},   {65, 9},  {97, 7},
                                       {128, 6}, {255, 3}, {1279, 4}, {1921, 5}};
  int levelsRun = 0;
  for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Ssse3, SimdLevel::Avx2}) {
    if (level != SimdLevel::Scalar && convert::PairKernelFor(level) == nullptr)
      continue;  // not on this processor or in this build
    ++levelsRun;
    for (const auto& [w, h] : sizes) {
      const int stride = w * 4 + 20;
      std::vector<uint8_t> bgra(static_cast<size_t>(stride) * h);
      for (auto& b : bgra)
        b = static_cast<uint8_t>(rng());
      const Planes expected = Convert(bgra, stride, w, h, true);
      const int yPitch = w + 7, uvPitch = w + 3, cPitch = w / 2 + 5;
      std::vector<uint8_t> y(static_cast<size_t>(yPitch) * h, 0xCD);
      std::vector<uint8_t> uv(static_cast<size_t>(uvPitch) * (h / 2), 0xCD);
      std::vector<uint8_t> u(static_cast<size_t>(cPitch) * (h / 2), 0xCD);
      std::vector<uint8_t> v(static_cast<size_t>(cPitch) * (h / 2), 0xCD);
      convert::ConvertAt(level, bgra.data(), stride, y.data(), yPitch, uv.data(), uvPitch, nullptr,
                         0, nullptr, 0, w, h);
      std::vector<uint8_t> y2(static_cast<size_t>(yPitch) * h, 0xCD);
      convert::ConvertAt(level, bgra.data(), stride, y2.data(), yPitch, nullptr, 0, u.data(),
                         cPitch, v.data(), cPitch, w, h);
      for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
          ASSERT_EQ(y[r * yPitch + c], expected.y[r * w + c])
              << "level " << int(level) << " " << w << "x" << h << " luma " << c << "," << r;
          ASSERT_EQ(y2[r * yPitch + c], expected.y[r * w + c]);
        }
        ASSERT_EQ(y[r * yPitch + w], 0xCD) << "nothing written past the row";
      }
      for (int r = 0; r < h / 2; ++r) {
        for (int i = 0; i < w / 2; ++i) {
          ASSERT_EQ(uv[r * uvPitch + 2 * i], expected.uv[r * w + 2 * i])
              << "level " << int(level) << " " << w << "x" << h << " U " << i << "," << r;
          ASSERT_EQ(uv[r * uvPitch + 2 * i + 1], expected.uv[r * w + 2 * i + 1]);
          ASSERT_EQ(u[r * cPitch + i], expected.uv[r * w + 2 * i]);
          ASSERT_EQ(v[r * cPitch + i], expected.uv[r * w + 2 * i + 1]);
        }
        ASSERT_EQ(uv[r * uvPitch + 2 * (w / 2)], 0xCD);
        ASSERT_EQ(u[r * cPitch + w / 2], 0xCD);
      }
    }
  }
  EXPECT_GE(levelsRun, 2) << "x86-64 always has at least SSSE3 here";
}

// Extremes of every channel, where a lane that wrapped or saturated would show.
TEST(ConvertCpu, ChannelExtremesMatchTheReference) {
  const int w = 64, h = 4;
  std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
  const uint8_t values[] = {0, 1, 127, 128, 254, 255};
  for (size_t i = 0; i < bgra.size(); ++i)
    bgra[i] = values[(i * 7 + i / 13) % 6];
  const Planes fast = Convert(bgra, w * 4, w, h, false);
  const Planes expected = Convert(bgra, w * 4, w, h, true);
  EXPECT_EQ(fast.y, expected.y);
  EXPECT_EQ(fast.uv, expected.uv);
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

  // Downscaling 1920 → 1280 reads source column trunc((x + 0.5) × 1.5).
  std::vector<uint8_t> back(static_cast<size_t>(sw) * sh * 4);
  ScaleNearest(dst.data(), dw * 4, dw, dh, back.data(), sw * 4, sw, sh);
  const uint8_t* p = &back[(static_cast<size_t>(1) * sw + 1279) * 4];
  const uint8_t* q = &dst[(static_cast<size_t>(2) * dw + 1919) * 4];
  EXPECT_EQ(std::vector<uint8_t>(p, p + 4), std::vector<uint8_t>(q, q + 4));
}

}  // namespace
}  // namespace Sorvane
