#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "fec/row_combine.h"

// A systematic Cauchy Reed-Solomon erasure code over GF(256), on the wire identical to cm256:
// field polynomial 0x14D; recovery block j of n originals carries block index n + j; its
// coefficient for original i is (i + n) / ((n + j) + i), so the first recovery block is the XOR
// of the originals; a single original's recovery blocks are copies of it. Any n of the n + m
// blocks rebuild the originals.
namespace Sorvane::fec {

inline constexpr int kMaxBlocks = 256;  // originals plus recovery blocks
inline constexpr int kMaxOriginals = 255;

struct CodeShape {
  int originalCount = 0;  // 1..255
  int recoveryCount = 0;  // 0..256 − originalCount
  size_t blockBytes = 0;  // every block the same size, at least one byte
};

bool IsValid(const CodeShape& shape);

// The coefficient of original `column` in the block with index `blockIndex` (≥ originalCount).
uint8_t RecoveryCoefficient(int originalCount, int blockIndex, int column);

// Writes the shape's recovery blocks end to end into `recovery` (recoveryCount × blockBytes) from
// the originals that `originals` points at (read only, any alignment). False, writing nothing,
// for an invalid shape or a missing pointer.
bool Encode(const CodeShape& shape, const uint8_t* const* originals, uint8_t* recovery);
bool Encode(const CodeShape& shape, const uint8_t* const* originals, uint8_t* recovery,
            SimdLevel level);

// One received block of blockBytes bytes and the index it travelled with.
struct Block {
  uint8_t* data = nullptr;
  int index = 0;
};

// Rebuilds the originals in place from exactly originalCount received blocks: each recovery
// block's bytes become a missing original and its index names which. False, writing nothing,
// unless there are exactly originalCount blocks with distinct indices below
// originalCount + recoveryCount.
bool Decode(const CodeShape& shape, std::span<Block> blocks);
bool Decode(const CodeShape& shape, std::span<Block> blocks, SimdLevel level);

}  // namespace Sorvane::fec
