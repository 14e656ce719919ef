#include "support/h264_bits.h"

namespace Sorvane::test {

void BitWriter::Bits(uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    pending_ = (pending_ << 1) | ((value >> i) & 1u);
    if (++bitCount_ == 8) {
      bytes_.push_back(static_cast<uint8_t>(pending_));
      pending_ = 0;
      bitCount_ = 0;
    }
  }
}

void BitWriter::Ue(uint32_t value) {
  const uint64_t coded = static_cast<uint64_t>(value) + 1;
  int length = 0;
  while ((coded >> length) > 1)
    ++length;
  Bits(0, length);
  // The value with its leading one: length + 1 bits, at most 33, so split the top bit off.
  Bits(1, 1);
  Bits(static_cast<uint32_t>(coded & ((uint64_t{1} << length) - 1)), length);
}

void BitWriter::Se(int32_t value) {
  const int64_t v = value;
  Ue(static_cast<uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

void BitWriter::AlignWithZeros() {
  if (bitCount_ != 0)
    Bits(0, 8 - bitCount_);
}

void BitWriter::TrailingBits() {
  Bit(true);
  AlignWithZeros();
}

void BitWriter::Byte(uint8_t value) {
  bytes_.push_back(value);
}

std::vector<uint8_t>& BitWriter::Bytes() {
  return bytes_;
}

bool BitReader::Bits(int count, uint32_t* value) {
  *value = 0;
  if (static_cast<size_t>(count) > BitsLeft())
    return false;
  for (int i = 0; i < count; ++i) {
    const uint8_t byte = data_[position_ / 8];
    *value = (*value << 1) | ((byte >> (7 - position_ % 8)) & 1u);
    ++position_;
  }
  return true;
}

bool BitReader::Ue(uint32_t* value) {
  *value = 0;
  int zeros = 0;
  uint32_t bit = 0;
  while (true) {
    if (!Bits(1, &bit))
      return false;
    if (bit)
      break;
    if (++zeros > 31)
      return false;
  }
  uint32_t rest = 0;
  if (!Bits(zeros, &rest))
    return false;
  *value = static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + rest);
  return true;
}

bool BitReader::Se(int32_t* value) {
  uint32_t code = 0;
  *value = 0;
  if (!Ue(&code))
    return false;
  const int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
  *value = static_cast<int32_t>(code % 2 ? magnitude : -magnitude);
  return true;
}

bool BitReader::SkipToByteBoundary() {
  bool allZero = true;
  uint32_t bit = 0;
  while (position_ % 8 != 0 && Bits(1, &bit))
    allZero = allZero && bit == 0;
  return allZero;
}

bool BitReader::AtTrailingBits() const {
  if (BitsLeft() == 0)
    return false;
  BitReader probe = *this;
  uint32_t bit = 0;
  if (!probe.Bits(1, &bit) || bit != 1)
    return false;
  while (probe.BitsLeft() > 0) {
    probe.Bits(1, &bit);
    if (bit != 0)
      return false;
  }
  return true;
}

std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> out;
  out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
  int zeros = 0;
  for (uint8_t byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      out.push_back(3);
      zeros = 0;
    }
    out.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  // A payload may not end in 00: the next start code would swallow it.
  if (!out.empty() && out.back() == 0)
    out.push_back(3);
  return out;
}

std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  int zeros = 0;
  for (size_t i = 0; i < size; ++i) {
    if (zeros >= 2 && data[i] == 3) {
      zeros = 0;
      continue;
    }
    out.push_back(data[i]);
    zeros = data[i] == 0 ? zeros + 1 : 0;
  }
  return out;
}

}  // namespace Sorvane::test
