#pragma once
// Bit-level reading and writing of H.264 RBSP syntax (u(n), ue(v), se(v)) and the emulation
// prevention that turns an RBSP into NAL unit bytes and back.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Sorvane::test {

class BitWriter {
 public:
  void Bits(uint32_t value, int count);  // most significant first, count <= 32
  void Bit(bool value) { Bits(value ? 1 : 0, 1); }
  void Ue(uint32_t value);
  void Se(int32_t value);
  void AlignWithZeros();
  void TrailingBits();  // rbsp_stop_one_bit, then zeros to the byte boundary
  bool ByteAligned() const { return bitCount_ == 0; }
  void Byte(uint8_t value);  // only when byte aligned
  std::vector<uint8_t>& Bytes();

 private:
  std::vector<uint8_t> bytes_;
  uint32_t pending_ = 0;
  int bitCount_ = 0;
};

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Each read returns false once it would run past the end; the value is then 0.
  bool Bits(int count, uint32_t* value);
  bool Ue(uint32_t* value);
  bool Se(int32_t* value);
  bool SkipToByteBoundary();  // true when the skipped bits were all zero
  size_t BitsLeft() const { return size_ * 8 - position_; }
  size_t BytePosition() const { return position_ / 8; }
  bool ByteAligned() const { return position_ % 8 == 0; }
  // rbsp_trailing_bits: a one, then zeros to the end.
  bool AtTrailingBits() const;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// RBSP → NAL payload: 00 00 followed by 00..03 gets an 03 between.
std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp);
// NAL payload → RBSP.
std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size);

}  // namespace Sorvane::test
