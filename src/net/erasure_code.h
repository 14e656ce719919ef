#pragma once
#include <cstddef>
#include <cstdint>

// The Cauchy Reed-Solomon erasure code over GF(256) (cm256) behind one small interface, whichever
// form of the library the build has (or none).
namespace Sorvane::fec {

inline constexpr int kBlockBytes = 1440;
inline constexpr int kMaxBlocks = 256;  // originals plus recovery blocks

// Whether the code initialised when the module loaded; without it no parity is made or used.
bool Initialised();

// Whether a code of this shape can be computed at all.
inline bool Fits(int originalCount, int recoveryCount) {
  return originalCount >= 1 && recoveryCount >= 1 && originalCount + recoveryCount <= kMaxBlocks;
}

// Computes `recoveryCount` recovery blocks over the `originalCount` blocks of kBlockBytes that
// `originals` points at (read only; any alignment), into `recovery` (recoveryCount ×
// kBlockBytes, laid end to end). Recovery block j has index originalCount + j.
bool Encode(const uint8_t* const* originals, int originalCount, int recoveryCount,
            uint8_t* recovery);

struct Block {
  uint8_t* data;  // kBlockBytes
  uint8_t index;  // 0..originalCount-1 for originals, then recovery indices
};

// Rebuilds the originals in place from exactly `originalCount` received blocks; afterwards each
// block's index names the original it holds.
bool Decode(int originalCount, int recoveryCount, Block* blocks);

}  // namespace Sorvane::fec
