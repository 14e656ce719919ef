#include "sv-host/test_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "sv-host/sync_marks.h"

namespace Sorvane::hostsim {
namespace {

constexpr int kColumns = 64;
constexpr int kRows = 3;
constexpr uint32_t kSync = 0xC3A55A3Cu;

// The 192 bits of the strip: sync, index / time / checksum, inverted sync.
std::array<bool, kColumns * kRows> StripBits(const SceneStamp& stamp) {
  const uint32_t check = static_cast<uint32_t>(stamp.pushTimeUs * 0x9E3779B97F4A7C15ull >> 32) ^
                         (stamp.frameIndex * 0x85EBCA6Bu);
  const uint32_t words[6] = {kSync,
                             stamp.frameIndex,
                             static_cast<uint32_t>(stamp.pushTimeUs >> 32),
                             static_cast<uint32_t>(stamp.pushTimeUs),
                             check,
                             ~kSync};
  std::array<bool, kColumns * kRows> bits{};
  for (int w = 0; w < 6; ++w) {
    for (int b = 0; b < 32; ++b)
      bits[w * 32 + b] = (words[w] >> (31 - b)) & 1u;
  }
  return bits;
}

void DrawBackground(uint8_t* bgra, int width, int height, int rowBytes, uint32_t frame) {
  const int boxSize = std::max(16, height / 5);
  const int travel = std::max(1, width - boxSize);
  const int boxX = static_cast<int>((frame * 7u) % static_cast<uint32_t>(2 * travel));
  const int boxLeft = boxX < travel ? boxX : 2 * travel - boxX;
  const int boxTop = height / 2 - boxSize / 2;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bgra + static_cast<size_t>(y) * rowBytes;
    const uint8_t g = static_cast<uint8_t>((y * 255) / std::max(1, height - 1));
    for (int x = 0; x < width; ++x) {
      uint8_t* p = row + 4 * x;
      const int bar = (x * 8) / width;  // eight colour bars under a moving gradient
      p[0] = static_cast<uint8_t>((bar & 1) ? 200 : (x + frame * 3) & 0xFF);
      p[1] = static_cast<uint8_t>((bar & 2) ? 200 : g);
      p[2] = static_cast<uint8_t>((bar & 4) ? 200 : (x / 4 + y / 4) & 0xFF);
      p[3] = 255;
    }
    if (y >= boxTop && y < boxTop + boxSize) {
      std::memset(row + 4 * boxLeft, 255,
                  4 * static_cast<size_t>(std::min(boxSize, width - boxLeft)));
    }
  }
}

}  // namespace

int SceneStripHeight(int width) {
  return static_cast<int>((int64_t{kRows} * width + kColumns - 1) / kColumns);
}

void RenderTestScene(uint8_t* bgra, int width, int height, int rowBytes, const SceneStamp& stamp) {
  if (bgra == nullptr || width < 1 || height < 1 || rowBytes < width * 4)
    return;
  DrawBackground(bgra, width, height, rowBytes, stamp.frameIndex);
  DrawSyncMarker(bgra, width, height, rowBytes, false);
  DrawSceneStamp(bgra, width, height, rowBytes, stamp);
}

void DrawSceneStamp(uint8_t* bgra, int width, int height, int rowBytes, const SceneStamp& stamp) {
  if (bgra == nullptr || width < 1 || height < 1 || rowBytes < width * 4)
    return;
  // Blocks of width / 64 pixels, fractional where the width is not a multiple of 64, so that the
  // reader finds each block's centre at any decoded width.
  const auto bits = StripBits(stamp);
  const int64_t stripHeight = std::min<int64_t>(height, SceneStripHeight(width));
  for (int64_t y = 0; y < stripHeight; ++y) {
    const int64_t row = y * kColumns / width;
    uint8_t* line = bgra + static_cast<size_t>(y) * rowBytes;
    for (int64_t x = 0; x < width; ++x) {
      const uint8_t v = bits[row * kColumns + x * kColumns / width] ? 255 : 0;
      uint8_t* p = line + 4 * x;
      p[0] = p[1] = p[2] = v;
      p[3] = 255;
    }
  }
}

std::optional<SceneStamp> ReadSceneStamp(const uint8_t* luma, int width, int height, int stride) {
  if (luma == nullptr || width < kColumns || height < 1)
    return std::nullopt;
  // The encoder may have scaled the picture: block positions follow the decoded width.
  const double block = static_cast<double>(width) / kColumns;
  uint32_t words[6] = {};
  for (int i = 0; i < kColumns * kRows; ++i) {
    const int col = i % kColumns, row = i / kColumns;
    const int x = static_cast<int>((col + 0.5) * block);
    const int y = static_cast<int>((row + 0.5) * block);
    if (y >= height)
      return std::nullopt;
    const bool bit = luma[static_cast<size_t>(y) * stride + x] >= 128;
    words[i / 32] = (words[i / 32] << 1) | (bit ? 1u : 0u);
  }
  if (words[0] != kSync || words[5] != ~kSync)
    return std::nullopt;
  SceneStamp stamp;
  stamp.frameIndex = words[1];
  stamp.pushTimeUs = (static_cast<uint64_t>(words[2]) << 32) | words[3];
  const auto expected = StripBits(stamp);
  for (int b = 0; b < 32; ++b) {
    if (expected[4 * 32 + b] != static_cast<bool>((words[4] >> (31 - b)) & 1u))
      return std::nullopt;
  }
  return stamp;
}

}  // namespace Sorvane::hostsim
