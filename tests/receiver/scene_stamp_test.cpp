#include <gtest/gtest.h>

#include <vector>

#include "sv-host/test_scene.h"

namespace Sorvane::hostsim {
namespace {

// The luma a decoder would give back for a grey-scale BGRA picture, resized by nearest sample.
std::vector<uint8_t> LumaOf(const std::vector<uint8_t>& bgra, int width, int height, int outWidth,
                            int outHeight) {
  std::vector<uint8_t> luma(static_cast<size_t>(outWidth) * outHeight);
  for (int y = 0; y < outHeight; ++y)
    for (int x = 0; x < outWidth; ++x) {
      const int sx = x * width / outWidth, sy = y * height / outHeight;
      luma[static_cast<size_t>(y) * outWidth + x] =
          bgra[(static_cast<size_t>(sy) * width + sx) * 4];
    }
  return luma;
}

TEST(SceneStamp, ReadsBackAtWidthsThatAreNoMultipleOf64AndAfterScaling) {
  const SceneStamp stamp{123456, 0x0102030405060708ull};
  struct Case {
    int width, height, decodedWidth, decodedHeight;
  } cases[] = {{480, 270, 480, 270}, {1366, 768, 1366, 768}, {1920, 1080, 1920, 1080},
               {240, 134, 240, 134}, {1920, 1080, 480, 270}, {480, 270, 1280, 720},
               {1280, 720, 854, 480}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bgra(static_cast<size_t>(c.width) * c.height * 4, 128);
    DrawSceneStamp(bgra.data(), c.width, c.height, c.width * 4, stamp);
    const auto luma = LumaOf(bgra, c.width, c.height, c.decodedWidth, c.decodedHeight);
    const auto read = ReadSceneStamp(luma.data(), c.decodedWidth, c.decodedHeight, c.decodedWidth);
    ASSERT_TRUE(read) << c.width << "x" << c.height << " decoded at " << c.decodedWidth;
    EXPECT_EQ(*read, stamp);
  }
}

TEST(SceneStamp, APictureWithoutTheStripGivesNothing) {
  std::vector<uint8_t> luma(480 * 270, 200);
  EXPECT_FALSE(ReadSceneStamp(luma.data(), 480, 270, 480));
}

}  // namespace
}  // namespace Sorvane::hostsim
