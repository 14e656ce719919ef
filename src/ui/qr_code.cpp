#include "ui/qr_code.h"

#include <climits>

#include "ui/qr_internal.h"

namespace Sorvane {
namespace {

// Level H error-correction characteristics of versions 1 to 40: the number of blocks and the
// error-correction codewords of each block.
constexpr int kBlocks[41] = {0,  1,  1,  2,  4,  4,  4,  5,  6,  8,  8,  11, 11, 16,
                             16, 18, 16, 19, 21, 25, 25, 25, 34, 30, 32, 35, 37, 40,
                             42, 45, 48, 51, 54, 57, 60, 63, 66, 70, 74, 77, 81};
constexpr int kEccPerBlock[41] = {0,  17, 28, 22, 16, 22, 28, 26, 26, 24, 28, 24, 28, 22,
                                  24, 24, 30, 28, 28, 26, 28, 30, 24, 30, 30, 30, 30, 30,
                                  30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30};

// Modules left for codewords once the function patterns and reserved areas are taken.
int DataModuleCount(int version) {
  int count = (16 * version + 128) * version + 64;
  if (version >= 2) {
    const int aligns = version / 7 + 2;
    count -= (25 * aligns - 10) * aligns - 55;
    if (version >= 7)
      count -= 36;
  }
  return count;
}

class BitWriter {
 public:
  void Append(uint32_t value, int bitCount) {
    for (int i = bitCount - 1; i >= 0; --i)
      bits_.push_back(static_cast<uint8_t>((value >> i) & 1));
  }
  size_t Size() const { return bits_.size(); }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes(bits_.size() / 8, 0);
    for (size_t i = 0; i < bytes.size() * 8; ++i)
      bytes[i / 8] |= static_cast<uint8_t>(bits_[i] << (7 - i % 8));
    return bytes;
  }

 private:
  std::vector<uint8_t> bits_;
};

int CountBits(int version) {
  return version <= 9 ? 8 : 16;
}

std::vector<uint8_t> DataCodewords(const std::string& text, int version) {
  const size_t capacityBits = static_cast<size_t>(QrBlockLayoutFor(version).dataCodewords) * 8;
  BitWriter writer;
  writer.Append(0x4, 4);  // byte mode
  writer.Append(static_cast<uint32_t>(text.size()), CountBits(version));
  for (unsigned char byte : text)
    writer.Append(byte, 8);
  writer.Append(0, static_cast<int>(std::min<size_t>(4, capacityBits - writer.Size())));
  writer.Append(0, static_cast<int>((8 - writer.Size() % 8) % 8));
  std::vector<uint8_t> bytes = writer.Bytes();
  for (uint8_t pad = 0xEC; bytes.size() * 8 < capacityBits; pad ^= 0xEC ^ 0x11)
    bytes.push_back(pad);
  return bytes;
}

int ChooseMask(QrCode& qr) {
  int bestMask = 0;
  int bestScore = INT_MAX;
  for (int mask = 0; mask < 8; ++mask) {
    qr::ApplyMask(qr, mask);
    qr::DrawFormatBits(qr, mask);
    const int score = qr::PenaltyScore(qr);
    if (score < bestScore) {
      bestScore = score;
      bestMask = mask;
    }
    qr::ApplyMask(qr, mask);
  }
  return bestMask;
}

}  // namespace

QrBlockLayout QrBlockLayoutFor(int version) {
  if (version < 1 || version > 40)
    return {};
  const int blocks = kBlocks[version];
  const int ecc = kEccPerBlock[version];
  return {blocks, ecc, DataModuleCount(version) / 8 - blocks * ecc};
}

int QrVersionForByteCount(size_t byteCount) {
  for (int version = 1; version <= 40; ++version) {
    const size_t needed = 4 + CountBits(version) + 8 * byteCount + 7;
    if (needed <= static_cast<size_t>(QrBlockLayoutFor(version).dataCodewords) * 8)
      return version;
  }
  return 0;
}

QrCode QrEncodeText(const std::string& text) {
  const int version = QrVersionForByteCount(text.size());
  if (version == 0)
    return {};
  QrCode qr = qr::BlankSymbol(version);
  qr::PlaceCodewords(qr, qr::InterleavedCodewords(DataCodewords(text, version), version));
  const int mask = ChooseMask(qr);
  qr::ApplyMask(qr, mask);
  qr::DrawFormatBits(qr, mask);
  qr::DrawVersionBits(qr);
  return qr;
}

bool QrGetModule(const QrCode& qr, int x, int y) {
  if (x < 0 || y < 0 || x >= qr.size || y >= qr.size)
    return false;
  return qr.modules[static_cast<size_t>(y) * qr.size + x] != 0;
}

namespace qr {

std::vector<uint8_t> InterleavedCodewords(const std::vector<uint8_t>& data, int version) {
  const QrBlockLayout layout = QrBlockLayoutFor(version);
  const int shortBlocks = layout.blocks - layout.dataCodewords % layout.blocks;
  const int shortLength = layout.dataCodewords / layout.blocks;
  const std::vector<uint8_t> generator = GeneratorPolynomial(layout.eccPerBlock);
  std::vector<std::vector<uint8_t>> dataBlocks, eccBlocks;
  size_t offset = 0;
  for (int b = 0; b < layout.blocks; ++b) {
    const size_t length = shortLength + (b < shortBlocks ? 0 : 1);
    dataBlocks.emplace_back(data.begin() + offset, data.begin() + offset + length);
    eccBlocks.push_back(EccCodewords(dataBlocks.back(), generator));
    offset += length;
  }
  std::vector<uint8_t> result;
  for (int i = 0; i <= shortLength; ++i)
    for (const auto& block : dataBlocks)
      if (i < static_cast<int>(block.size()))
        result.push_back(block[i]);
  for (int i = 0; i < layout.eccPerBlock; ++i)
    for (const auto& block : eccBlocks)
      result.push_back(block[i]);
  return result;
}

}  // namespace qr
}  // namespace Sorvane
