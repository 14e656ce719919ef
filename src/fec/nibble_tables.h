#pragma once
#include <cstddef>
#include <cstdint>

// Split-nibble product tables: for each multiplier c, 32 bytes c·x for the low nibble x, then 32
// bytes c·(x << 4) for the high nibble, each run of 16 repeated twice so one 32-byte load fills a
// 256-bit register. c·b is low[b & 15] ^ high[b >> 4], which pshufb looks up a register at a time.
namespace Sorvane::fec {

inline constexpr size_t kNibbleTableBytes = 64;
inline constexpr size_t kHighNibbleOffset = 32;

// 256 tables laid end to end, indexed by the multiplier; 32-byte aligned.
const uint8_t* NibbleTables();

}  // namespace Sorvane::fec
