#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "sv-receiver/app/bitmap_font.h"
#include "sv-receiver/app/preview_mailbox.h"
#include "sv-receiver/app/preview_meter.h"
#include "sv-receiver/app/preview_status_line.h"

namespace Sorvane::receiver {
namespace {

constexpr int64_t kMs = 1'000'000;

TEST(RollingMeter, CountsAndMediansOnlyTheLastSecond) {
  RollingMeter meter;
  // Two seconds at 50 fps: 10 ms latency in the first, 30..40 ms in the second.
  for (int i = 0; i < 100; ++i) {
    const double latency = i < 50 ? 10.0 : 30.0 + (i % 2) * 10.0;
    meter.OnPicture(i * 20 * kMs, latency);
  }
  const PreviewReadings now = meter.Read(99 * 20 * kMs);
  EXPECT_DOUBLE_EQ(now.fps, 50.0);
  ASSERT_TRUE(now.latencyMedianMs.has_value());
  EXPECT_DOUBLE_EQ(*now.latencyMedianMs, 35.0);  // even count: between 30 and 40

  // A stalled stream drains to nothing instead of repeating its last rate.
  const PreviewReadings later = meter.Read(99 * 20 * kMs + 1500 * kMs);
  EXPECT_EQ(later.fps, 0.0);
  EXPECT_FALSE(later.latencyMedianMs.has_value());
}

TEST(RollingMeter, PicturesWithoutAStampCountButGiveNoLatency) {
  RollingMeter meter;
  meter.OnPicture(0, std::nullopt);
  meter.OnPicture(10 * kMs, 42.0);
  meter.OnPicture(20 * kMs, std::nullopt);
  const PreviewReadings r = meter.Read(20 * kMs);
  EXPECT_DOUBLE_EQ(r.fps, 3.0);
  EXPECT_DOUBLE_EQ(r.latencyMedianMs.value_or(-1), 42.0);
}

TEST(PreviewStatusLine, SaysEverythingAndOnlyUsesGlyphsTheFontHas) {
  PreviewStatus s;
  s.readings.fps = 59.8;
  s.readings.latencyMedianMs = 41.25;
  s.framesLost = 2;
  s.framesRebuilt = 17;
  s.havePicture = true;
  s.hevc = true;
  s.width = 1920;
  s.height = 1080;
  const std::string line = PreviewStatusLine(s);
  EXPECT_EQ(line, "59.8 FPS  LATENCY 41.2 MS  LOST 2  REBUILT 17  HEVC 1920X1080");

  s.readings.latencyMedianMs.reset();
  s.havePicture = false;
  const std::string waiting = PreviewStatusLine(s);
  EXPECT_NE(waiting.find("LATENCY -- MS"), std::string::npos);
  EXPECT_NE(waiting.find("NO PICTURE YET"), std::string::npos);
  for (const std::string& text : {line, waiting, PreviewStatusLine(PreviewStatus{})}) {
    for (char c : text)
      EXPECT_NE(GlyphRows(c), nullptr) << "no glyph for '" << c << "' in " << text;
  }
}

TEST(BitmapFont, DrawsDistinctGlyphsSideBySide) {
  std::set<std::vector<uint8_t>> shapes;
  for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ.:/-%")) {
    const uint8_t* rows = GlyphRows(c);
    ASSERT_NE(rows, nullptr) << c;
    shapes.insert(std::vector<uint8_t>(rows, rows + kGlyphHeight));
  }
  EXPECT_EQ(shapes.size(), 41u) << "two characters share a shape";
  EXPECT_EQ(GlyphRows('h'), GlyphRows('H'));
  EXPECT_EQ(GlyphRows('~'), nullptr);

  std::vector<std::pair<int, int>> lit;
  ForEachLitPixel("1 ~1", [&lit](int x, int y) { lit.emplace_back(x, y); });
  ASSERT_EQ(lit.size(), 2 * 10u);  // '1' has ten pixels; the space and '~' none
  for (const auto& [x, y] : lit) {
    EXPECT_TRUE((x >= 0 && x < kGlyphWidth) ||
                (x >= 3 * kGlyphAdvance && x < 3 * kGlyphAdvance + kGlyphWidth));
    EXPECT_TRUE(y >= 0 && y < kGlyphHeight);
  }
  EXPECT_EQ(TextWidth("AB"), 2 * kGlyphAdvance - 1);
}

// A decoder-like frame whose every sample says where it is.
struct TestFrame {
  AVFrame* frame = av_frame_alloc();
  TestFrame(int width, int height, AVPixelFormat format, uint8_t seed) {
    frame->format = format;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 64);  // padded rows: the copy must drop the padding
    const bool interleaved = format == AV_PIX_FMT_NV12;
    for (int p = 0; p < 3 && frame->data[p] != nullptr; ++p) {
      const int w = p == 0 || interleaved ? width : (width + 1) / 2;
      const int h = p == 0 ? height : (height + 1) / 2;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          frame->data[p][y * frame->linesize[p] + x] =
              static_cast<uint8_t>(seed + p * 50 + x + 3 * y);
        }
      }
    }
  }
  ~TestFrame() { av_frame_free(&frame); }
  DecodedPicture Picture(bool hevc = false) const {
    DecodedPicture p;
    p.width = frame->width;
    p.height = frame->height;
    p.luma = frame->data[0];
    p.lumaStride = frame->linesize[0];
    p.hevc = hevc;
    p.avFrame = frame;
    return p;
  }
};

TEST(PreviewMailbox, HandsOverThePlanesOfTheNewestPictureOnce) {
  PreviewMailbox mailbox;
  EXPECT_EQ(mailbox.TakeNewest(), nullptr);
  const TestFrame older(34, 18, AV_PIX_FMT_YUV420P, 1), newer(34, 18, AV_PIX_FMT_YUV420P, 9);
  ASSERT_TRUE(mailbox.Offer(older.Picture()));
  ASSERT_TRUE(mailbox.Offer(newer.Picture(true)));  // replaces the one not taken yet
  const PreviewPicture* p = mailbox.TakeNewest();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->width, 34);
  EXPECT_EQ(p->height, 18);
  EXPECT_TRUE(p->hevc);
  ASSERT_EQ(p->y.size(), 34u * 18);
  ASSERT_EQ(p->u.size(), 17u * 9);
  EXPECT_EQ(p->y[5 * 34 + 7], static_cast<uint8_t>(9 + 7 + 15));
  EXPECT_EQ(p->u[4 * 17 + 16], static_cast<uint8_t>(9 + 50 + 16 + 12));
  EXPECT_EQ(p->v[8 * 17 + 2], static_cast<uint8_t>(9 + 100 + 2 + 24));
  EXPECT_EQ(mailbox.TakeNewest(), nullptr) << "the same picture handed over twice";

  // The picture being shown stays intact while the decoder offers the next ones.
  const std::vector<uint8_t> shown = p->y;
  ASSERT_TRUE(mailbox.Offer(older.Picture()));
  ASSERT_TRUE(mailbox.Offer(older.Picture()));
  EXPECT_EQ(p->y, shown);
  EXPECT_NE(mailbox.TakeNewest(), nullptr);
}

TEST(PreviewMailbox, ConvertsOtherLayoutsAndRefusesPicturesWithoutAFrame) {
  PreviewMailbox mailbox;
  const TestFrame nv12(32, 16, AV_PIX_FMT_NV12, 0);
  ASSERT_TRUE(mailbox.Offer(nv12.Picture()));
  const PreviewPicture* p = mailbox.TakeNewest();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->y[3 * 32 + 5], nv12.frame->data[0][3 * nv12.frame->linesize[0] + 5]);
  // NV12 interleaves U and V in its second plane.
  EXPECT_EQ(p->u[2 * 16 + 4], nv12.frame->data[1][2 * nv12.frame->linesize[1] + 8]);
  EXPECT_EQ(p->v[2 * 16 + 4], nv12.frame->data[1][2 * nv12.frame->linesize[1] + 9]);

  DecodedPicture empty;
  EXPECT_FALSE(mailbox.Offer(empty));
  EXPECT_EQ(mailbox.TakeNewest(), nullptr);
}

}  // namespace
}  // namespace Sorvane::receiver
