#include "code_samples.h"

#include "net/framer.h"

namespace Sorvane::fec::testing {

std::vector<CodeShape> SampleShapes() {
  std::vector<CodeShape> shapes;
  for (int n = 1; n <= kMaxOriginals; ++n) {
    const int parity = static_cast<int>(VideoParityFor(static_cast<size_t>(n)));
    if (parity > 0)
      shapes.push_back({n, parity, kFragmentBytes});
  }
  const CodeShape edges[] = {{1, 1, 1440},  {1, 3, 1440}, {255, 1, 1440}, {128, 128, 1440},
                             {2, 254, 64},  {3, 2, 1},    {5, 3, 7},      {17, 4, 33},
                             {40, 8, 1441}, {12, 6, 100}, {64, 20, 2880}, {200, 56, 31}};
  shapes.insert(shapes.end(), std::begin(edges), std::end(edges));
  return shapes;
}

std::vector<uint8_t> SampleOriginals(const CodeShape& shape) {
  // xorshift32: the same stream from every standard library.
  uint32_t state = static_cast<uint32_t>(shape.originalCount) * 65537u +
                   static_cast<uint32_t>(shape.recoveryCount) * 257u +
                   static_cast<uint32_t>(shape.blockBytes) + 1u;
  std::vector<uint8_t> bytes(static_cast<size_t>(shape.originalCount) * shape.blockBytes);
  for (auto& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

std::vector<const uint8_t*> BlockPointers(const std::vector<uint8_t>& blocks, int count,
                                          size_t blockBytes) {
  std::vector<const uint8_t*> pointers(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    pointers[i] = blocks.data() + i * blockBytes;
  return pointers;
}

uint64_t Digest(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) {
    hash ^= b;
    hash *= 1099511628211ull;
  }
  return hash;
}

const std::vector<KnownAnswer>& KnownAnswers() {
  static const std::vector<KnownAnswer> answers = {
#include "cm256_known_answers.inc"
  };
  return answers;
}

}  // namespace Sorvane::fec::testing
