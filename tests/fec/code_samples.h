#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fec/cauchy_code.h"

// Shapes and contents the erasure-code tests share, generated the same way on every platform so
// digests taken from cm256 on Linux hold for the Windows build too.
namespace Sorvane::fec::testing {

// The shapes the video path uses (n originals with the framer's parity count, 1440-byte blocks),
// then edge shapes: one original, a full 256 blocks, odd block sizes.
std::vector<CodeShape> SampleShapes();

// n originals of blockBytes bytes laid end to end, from a fixed generator seeded by the shape.
std::vector<uint8_t> SampleOriginals(const CodeShape& shape);

// Pointers to each block of a buffer of blocks laid end to end.
std::vector<const uint8_t*> BlockPointers(const std::vector<uint8_t>& blocks, int count,
                                          size_t blockBytes);

// FNV-1a over the bytes: the known-answer files keep this, not the parity itself.
uint64_t Digest(const std::vector<uint8_t>& bytes);

struct KnownAnswer {
  int originalCount;
  int recoveryCount;
  size_t blockBytes;
  uint64_t recoveryDigest;
};

// Digests of cm256's recovery blocks for SampleShapes(), generated once on Linux.
const std::vector<KnownAnswer>& KnownAnswers();

}  // namespace Sorvane::fec::testing
