// The I_PCM writer and reader: exact round trips at awkward sizes, the IDR / non-IDR sequence,
// the bit-level primitives at their edges, and a reader that refuses damaged input with a
// reason instead of crashing.
#include <gtest/gtest.h>

#include <random>

#include "support/h264_bits.h"
#include "support/ipcm_h264.h"

namespace Sorvane::test {
namespace {

Nv12Image RandomImage(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  Nv12Image image(width, height);
  // Runs of zeros and small values force emulation prevention inside the samples.
  auto sample = [&random] {
    const uint32_t r = random();
    return static_cast<uint8_t>(r % 4 == 0 ? r % 4 : r >> 8);
  };
  for (auto& v : image.y)
    v = sample();
  for (auto& v : image.uv)
    v = sample();
  return image;
}

// The top-left width × height of `decoded` must be `original`, and anything beyond repeats the
// last column and row.
void ExpectContains(const Nv12Image& decoded, const Nv12Image& original) {
  ASSERT_EQ(decoded.width, (original.width + 1) & ~1);
  ASSERT_EQ(decoded.height, (original.height + 1) & ~1);
  for (int y = 0; y < decoded.height; ++y)
    for (int x = 0; x < decoded.width; ++x)
      ASSERT_EQ(decoded.y[y * decoded.width + x],
                original.y[std::min(y, original.height - 1) * original.width +
                           std::min(x, original.width - 1)])
          << x << "," << y;
  for (int y = 0; y < decoded.ChromaRows(); ++y)
    for (int i = 0; i < decoded.ChromaRowBytes(); ++i)
      ASSERT_EQ(decoded.uv[y * decoded.ChromaRowBytes() + i],
                original.uv[std::min(y, original.ChromaRows() - 1) * original.ChromaRowBytes() +
                            std::min(i, original.ChromaRowBytes() - 1)]);
}

TEST(IpcmH264, EvenSizesRoundTripExactlyThroughAnyPitch) {
  for (auto [width, height] : {std::pair{16, 16}, {480, 270}, {240, 136}, {18, 34}, {1024, 2}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const Nv12Image image = RandomImage(width, height, width * 31 + height);
    // The same picture in padded rows, as a mapped buffer hands it over.
    const int pitch = width + 24;
    std::vector<uint8_t> y(static_cast<size_t>(pitch) * height);
    std::vector<uint8_t> uv(static_cast<size_t>(pitch) * image.ChromaRows());
    for (int row = 0; row < height; ++row)
      std::copy_n(&image.y[row * width], width, &y[row * pitch]);
    for (int row = 0; row < image.ChromaRows(); ++row)
      std::copy_n(&image.uv[row * width], width, &uv[row * pitch]);
    IpcmH264Writer writer(width, height);
    IpcmH264Reader reader;
    const std::vector<uint8_t> au =
        writer.EncodePicture(Nv12View{width, height, y.data(), pitch, uv.data(), pitch}, true);
    const std::optional<Nv12Image> back = reader.DecodeAccessUnit(au.data(), au.size());
    ASSERT_TRUE(back) << reader.Error();
    EXPECT_TRUE(*back == image);
  }
}

TEST(IpcmH264, OddSizesReadBackOneSampleLargerWithTheEdgeRepeated) {
  for (auto [width, height] : {std::pair{17, 16}, {16, 17}, {33, 17}, {1, 1}, {239, 135}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const Nv12Image image = RandomImage(width, height, width + height);
    IpcmH264Writer writer(width, height);
    IpcmH264Reader reader;
    const std::vector<uint8_t> au = writer.EncodePicture(Nv12View::Of(image), true);
    const std::optional<Nv12Image> back = reader.DecodeAccessUnit(au.data(), au.size());
    ASSERT_TRUE(back) << reader.Error();
    ExpectContains(*back, image);
  }
}

TEST(IpcmH264, IdrPicturesCarryParameterSetsAndRestartFrameNumbers) {
  const Nv12Image image = RandomImage(32, 32, 1);
  IpcmH264Writer writer(32, 32);
  IpcmH264Reader reader;
  // The first picture is an IDR even when not asked for: nothing could be decoded otherwise.
  const std::vector<bool> asked = {false, false, false, true, false};
  const std::vector<unsigned> frameNums = {0, 1, 2, 0, 1};
  for (size_t i = 0; i < asked.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<uint8_t> au = writer.EncodePicture(Nv12View::Of(image), asked[i]);
    const bool idr = asked[i] || i == 0;
    // The NAL types the keyframe scan of the encoder looks for.
    const std::vector<std::vector<uint8_t>> units = SplitAnnexB(au.data(), au.size());
    ASSERT_EQ(units.size(), idr ? 3u : 1u);
    EXPECT_EQ(units.back()[0] & 0x1F, idr ? 5 : 1);
    IpcmPictureInfo info;
    ASSERT_TRUE(reader.DecodeAccessUnit(au.data(), au.size(), &info)) << reader.Error();
    EXPECT_EQ(info.idr, idr);
    EXPECT_EQ(info.hadParameterSets, idr);
    EXPECT_EQ(info.frameNum, frameNums[i]);
  }
  // The avcC record holds the same SPS and PPS as the stream.
  const std::vector<uint8_t> record = writer.DecoderConfigurationRecord();
  const std::vector<uint8_t> sets = writer.AnnexBParameterSets();
  ASSERT_GE(record.size(), 8u);
  EXPECT_EQ(record[0], 1);
  EXPECT_EQ(record[1], 66);  // baseline
  EXPECT_EQ(record[5] & 0x1F, 1);
  EXPECT_EQ(record.size(), 6 + 2 + writer.Sps().size() + 1 + 2 + writer.Pps().size());
  EXPECT_EQ(sets.size(), 8 + writer.Sps().size() + writer.Pps().size());
}

TEST(IpcmH264, ExpGolombAndEmulationPreventionRoundTripAtTheEdges) {
  BitWriter writer;
  const std::vector<uint32_t> unsignedValues = {0, 1, 2, 3, 25, 255, 65535, 0x7FFFFFFF, 0xFFFFFFFE};
  const std::vector<int32_t> signedValues = {0, 1, -1, 2, -2, 1000, -1000, 0x7FFFFFFF, -0x7FFFFFFF};
  for (uint32_t v : unsignedValues)
    writer.Ue(v);
  for (int32_t v : signedValues)
    writer.Se(v);
  writer.TrailingBits();
  const std::vector<uint8_t> rbsp = writer.Bytes();
  BitReader reader(rbsp.data(), rbsp.size());
  for (uint32_t v : unsignedValues) {
    uint32_t read = 0;
    ASSERT_TRUE(reader.Ue(&read));
    EXPECT_EQ(read, v);
  }
  for (int32_t v : signedValues) {
    int32_t read = 0;
    ASSERT_TRUE(reader.Se(&read));
    EXPECT_EQ(read, v);
  }
  EXPECT_TRUE(reader.AtTrailingBits());

  // Every 00 00 0x (x <= 3) gains an 03; nothing else changes; the way back is exact.
  const std::vector<uint8_t> tricky = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0};
  const std::vector<uint8_t> escaped = AddEmulationPrevention(tricky);
  const std::vector<uint8_t> expected = {0, 0, 3, 0, 0, 3, 0, 1, 0, 0, 3,
                                         2, 0, 0, 3, 3, 0, 0, 4, 0, 0, 3};
  EXPECT_EQ(escaped, expected);
  EXPECT_EQ(RemoveEmulationPrevention(escaped.data(), escaped.size() - 1),
            std::vector<uint8_t>(tricky.begin(), tricky.end()));
  for (size_t i = 0; i + 2 < escaped.size(); ++i)
    EXPECT_FALSE(escaped[i] == 0 && escaped[i + 1] == 0 && escaped[i + 2] <= 2) << i;
}

TEST(IpcmH264, DamagedUnitsAreRefusedWithAReason) {
  const Nv12Image image = RandomImage(48, 32, 9);
  IpcmH264Writer writer(48, 32);
  const std::vector<uint8_t> idr = writer.EncodePicture(Nv12View::Of(image), true);
  const std::vector<uint8_t> next = writer.EncodePicture(Nv12View::Of(image), false);

  IpcmH264Reader fresh;
  EXPECT_FALSE(fresh.DecodeAccessUnit(next.data(), next.size()));
  EXPECT_NE(fresh.Error().find("before SPS"), std::string::npos) << fresh.Error();

  IpcmH264Reader reader;
  EXPECT_FALSE(reader.DecodeAccessUnit(idr.data(), idr.size() - 100));
  EXPECT_FALSE(reader.Error().empty());
  EXPECT_FALSE(reader.DecodeAccessUnit(nullptr, 0));
  std::vector<uint8_t> twoPictures = idr;
  twoPictures.insert(twoPictures.end(), next.begin(), next.end());
  EXPECT_FALSE(reader.DecodeAccessUnit(twoPictures.data(), twoPictures.size()));
  EXPECT_NE(reader.Error().find("more than one"), std::string::npos) << reader.Error();
  // After all that, a good unit still reads.
  EXPECT_TRUE(reader.DecodeAccessUnit(idr.data(), idr.size())) << reader.Error();

  // Random cuts and flipped bytes: refused or read, never a crash or a read out of bounds.
  std::mt19937 random(4);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> damaged = idr;
    damaged.resize(random() % (damaged.size() + 1));
    for (int flips = random() % 4; flips > 0 && !damaged.empty(); --flips)
      damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
    IpcmH264Reader any;
    any.DecodeAccessUnit(damaged.data(), damaged.size());
  }
}

}  // namespace
}  // namespace Sorvane::test
