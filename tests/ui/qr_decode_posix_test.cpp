// Symbols read back by an independent decoder.
#include <gtest/gtest.h>

#include <random>

#include "ui/pairing_url.h"
#include "ui/qr_code.h"
#include "ui/qr_decoder.h"
#include "ui/qr_terminal.h"

namespace Sorvane {
namespace {

size_t CapacityOf(int version) {
  const int countBits = version <= 9 ? 8 : 16;
  return (QrBlockLayoutFor(version).dataCodewords * 8 - 4 - countBits - 7) / 8;
}

std::string RandomBytes(size_t n, std::mt19937& random) {
  std::string bytes(n, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random() & 0xFF);
  return bytes;
}

void ExpectDecodesTo(const std::string& text, int expectedVersion = 0) {
  const QrCode qr = QrEncodeText(text);
  ASSERT_GT(qr.size, 0) << text.size();
  if (expectedVersion) {
    EXPECT_EQ(qr.version, expectedVersion) << text.size();
  }
  const auto decoded = test::DecodeQr(test::DrawQr(qr, 3, 4));
  ASSERT_TRUE(decoded.has_value()) << "version " << qr.version << " length " << text.size();
  EXPECT_EQ(*decoded, text) << "version " << qr.version;
}

TEST(QrDecode, PairingUrlsOfShortLongAndNonAsciiNames) {
  const std::string id = "5f0c2a7e-9b1d-4c3e-8a2f-1e6d7b9c0a44";
  ExpectDecodesTo(BuildPairingUrl({id, "Studio"}));
  ExpectDecodesTo(BuildPairingUrl({id, ""}));
  ExpectDecodesTo(
      BuildPairingUrl({id, "Bj\xC3\xB6rk's \xE7\xB7\xA8\xE9\x9B\x86\xE5\xAE\xA4 & co"}));
  const std::string longUrl = BuildPairingUrl({id, std::string(120, 'n') + " \xF0\x9F\x8E\xAC"});
  ASSERT_GE(QrEncodeText(longUrl).version, 10);
  ExpectDecodesTo(longUrl);
}

TEST(QrDecode, RandomBytesAtEveryVersionBoundary) {
  std::mt19937 random(20261209);
  for (int version = 1; version <= 40; ++version) {
    SCOPED_TRACE(version);
    ExpectDecodesTo(RandomBytes(CapacityOf(version), random), version);
    if (version < 40)
      ExpectDecodesTo(RandomBytes(CapacityOf(version) + 1, random), version + 1);
  }
}

TEST(QrDecode, TheTerminalDrawingReadsBack) {
  const std::string url = BuildPairingUrl({"5f0c2a7e-9b1d-4c3e-8a2f-1e6d7b9c0a44", "Edit Bay"});
  const QrCode qr = QrEncodeText(url);
  const std::vector<std::string> lines = QrTerminalLines(qr, 4);
  // Paint each cell as two pixels stacked, ink dark, and scale up.
  const int scale = 4;
  const int width = qr.size + 8;
  test::GreyImage image;
  image.width = width * scale;
  image.height = static_cast<int>(lines.size()) * 2 * scale;
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
  for (size_t row = 0; row < lines.size(); ++row) {
    const std::string& line = lines[row];
    int column = 0;
    for (size_t i = 0; i < line.size(); ++column) {
      bool top = false, bottom = false;
      if (line[i] == ' ') {
        i += 1;
      } else {
        const unsigned char kind = static_cast<unsigned char>(line[i + 2]);
        top = kind == 0x88 || kind == 0x80;
        bottom = kind == 0x88 || kind == 0x84;
        i += 3;
      }
      for (int half = 0; half < 2; ++half)
        if (half == 0 ? top : bottom)
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx)
              image.pixels[static_cast<size_t>((row * 2 + half) * scale + dy) * image.width +
                           column * scale + dx] = 0;
    }
    ASSERT_EQ(column, width) << row;
  }
  const auto decoded = test::DecodeQr(image);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(*decoded, url);
}

}  // namespace
}  // namespace Sorvane
