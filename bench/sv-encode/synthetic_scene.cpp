#include "synthetic_scene.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace Sorvane::bench {
namespace {

// 256 × 256 fixed texture: pseudo-random values softened by a 3 × 3 box, i.e. fine detail
// the encoder has to spend bits on, without being pure noise.
const std::array<uint8_t, 65536>& Texture() {
  static const std::array<uint8_t, 65536> texture = [] {
    std::array<uint8_t, 65536> noise{};
    uint32_t state = 0x9E3779B9u;
    for (auto& value : noise) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      value = static_cast<uint8_t>(state >> 24);
    }
    std::array<uint8_t, 65536> t{};
    for (int y = 0; y < 256; ++y) {
      for (int x = 0; x < 256; ++x) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx)
            sum += noise[(((y + dy) & 255) << 8) | ((x + dx) & 255)];
        }
        t[(y << 8) | x] = static_cast<uint8_t>(sum / 9);
      }
    }
    return t;
  }();
  return texture;
}

inline void Put(uint8_t* p, int b, int g, int r) {
  p[0] = static_cast<uint8_t>(b);
  p[1] = static_cast<uint8_t>(g);
  p[2] = static_cast<uint8_t>(r);
  p[3] = 255;
}

void FillRect(uint8_t* bgra, int width, int height, int rowBytes, int x0, int y0, int w, int h,
              int b, int g, int r) {
  const int x1 = std::min(width, x0 + w), y1 = std::min(height, y0 + h);
  for (int y = std::max(0, y0); y < y1; ++y) {
    uint8_t* row = bgra + static_cast<size_t>(y) * rowBytes;
    for (int x = std::max(0, x0); x < x1; ++x)
      Put(row + 4 * x, b, g, r);
  }
}

// A position bouncing between 0 and `span` at `speed` pixels per frame.
int Bounce(uint32_t index, int speed, int span) {
  if (span <= 0)
    return 0;
  const int period = 2 * span;
  const int p = static_cast<int>((static_cast<uint64_t>(index) * speed) % period);
  return p < span ? p : period - p;
}

}  // namespace

void DrawSyntheticScene(uint8_t* bgra, int width, int height, int rowBytes, uint32_t index) {
  const auto& texture = Texture();
  const int t = static_cast<int>(index);
  const int bandTop = height / 3, bandBottom = bandTop + height / 6;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bgra + static_cast<size_t>(y) * rowBytes;
    const bool band = y >= bandTop && y < bandBottom;
    for (int x = 0; x < width; ++x) {
      if (band) {
        // Fine detail scrolling left by 3 pixels a frame.
        const uint8_t v = texture[((y & 255) << 8) | ((x + 3 * t) & 255)];
        Put(row + 4 * x, v, (v + 64) & 255, 255 - v);
      } else {
        Put(row + 4 * x, (x * 255 / width + t) & 255, (y * 255 / height + 2 * t) & 255,
            ((x + y) * 128 / (width + height) + 64) & 255);
      }
    }
  }
  // Text-like blocks: a line of small glyph cells that change every few frames.
  const int cell = std::max(4, width / 120);
  const int textTop = height - 4 * cell;
  for (int c = 0; c * cell * 2 < width; ++c) {
    const uint8_t code = texture[(c * 37 + (t / 4) * 11) & 0xFFFF];
    for (int bit = 0; bit < 6; ++bit) {
      if (code & (1 << bit)) {
        FillRect(bgra, width, height, rowBytes, c * cell * 2 + (bit % 2) * cell / 2,
                 textTop + (bit / 2) * cell, cell / 2, cell, 240, 240, 240);
      }
    }
  }
  // Solid shapes crossing the picture.
  const int box = std::max(16, height / 6);
  FillRect(bgra, width, height, rowBytes, Bounce(index, 7, width - box),
           Bounce(index, 5, height - box), box, box, 40, 60, 220);
  FillRect(bgra, width, height, rowBytes, Bounce(index + 90, 11, width - box / 2),
           Bounce(index + 40, 3, height - box / 2), box / 2, box / 2, 30, 200, 40);
}

}  // namespace Sorvane::bench
