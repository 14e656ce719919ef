#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "code_samples.h"
#include "fec/cauchy_code.h"
#include "fec/row_combine.h"

namespace Sorvane::fec {
namespace {

using testing::BlockPointers;
using testing::SampleOriginals;
using testing::SampleShapes;

constexpr SimdLevel kAllLevels[] = {SimdLevel::Scalar, SimdLevel::Ssse3, SimdLevel::Avx2};

const char* NameOf(SimdLevel level) {
  return level == SimdLevel::Avx2 ? "avx2" : level == SimdLevel::Ssse3 ? "ssse3" : "plain";
}

// The levels this processor runs; the plain kernel always.
std::vector<SimdLevel> RunnableLevels() {
  std::vector<SimdLevel> levels{SimdLevel::Scalar};
  for (SimdLevel level : {SimdLevel::Ssse3, SimdLevel::Avx2}) {
    if (VectorKernelFor(level) != nullptr)
      levels.push_back(level);
  }
  return levels;
}

std::vector<uint8_t> Parity(const CodeShape& shape, const std::vector<uint8_t>& originals,
                            SimdLevel level) {
  std::vector<uint8_t> recovery(static_cast<size_t>(shape.recoveryCount) * shape.blockBytes);
  const auto pointers = BlockPointers(originals, shape.originalCount, shape.blockBytes);
  EXPECT_TRUE(Encode(shape, pointers.data(), recovery.data(), level));
  return recovery;
}

std::string Describe(const CodeShape& shape, SimdLevel level) {
  return std::to_string(shape.originalCount) + "+" + std::to_string(shape.recoveryCount) + " x " +
         std::to_string(shape.blockBytes) + " at " + NameOf(level);
}

// cm256's parity, as digested on Linux, at every level this processor has: the Windows build
// checks the same answers under Wine.
TEST(CauchyCode, ParityMatchesCm256sKnownAnswers) {
  const auto& answers = testing::KnownAnswers();
  ASSERT_EQ(answers.size(), SampleShapes().size());
  for (SimdLevel level : RunnableLevels()) {
    for (const auto& answer : answers) {
      const CodeShape shape{answer.originalCount, answer.recoveryCount, answer.blockBytes};
      EXPECT_EQ(testing::Digest(Parity(shape, SampleOriginals(shape), level)),
                answer.recoveryDigest)
          << Describe(shape, level);
    }
  }
}

// Every vector kernel gives the plain kernel's bytes: row groups of one to four and their
// remainders, every register tail, sources off alignment, sums added to what targets held.
TEST(CauchyCode, VectorKernelsGiveThePlainBytes) {
  const auto levels = RunnableLevels();
  std::string names;
  for (SimdLevel level : levels)
    names += std::string(" ") + NameOf(level);
  std::printf("kernels this processor runs:%s\n", names.c_str());
  if (levels.size() == 1)
    GTEST_SKIP() << "only the plain kernel runs here (no SSSE3 on this processor, or a build "
                    "without the vector kernels)";
  std::mt19937 rng(7);
  const size_t sizes[] = {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 129, 1440, 1441};
  for (size_t bytes : sizes) {
    for (int rows : {1, 2, 3, 4, 5, 9}) {
      for (bool plainSum : {false, true}) {
        const int count = static_cast<int>(rng() % 12) + 1;
        std::vector<uint8_t> pool(static_cast<size_t>(count) * (bytes + 1));
        for (auto& b : pool)
          b = static_cast<uint8_t>(rng());
        std::vector<const uint8_t*> sources;
        for (int j = 0; j < count; ++j)
          sources.push_back(pool.data() + j * (bytes + 1) + 1);  // off alignment
        const int usedRows = plainSum ? 1 : rows;
        std::vector<uint8_t> coefficients(static_cast<size_t>(usedRows) * count, 1);
        if (!plainSum) {
          for (auto& c : coefficients)
            c = static_cast<uint8_t>(rng());
        }
        std::vector<uint8_t> start(static_cast<size_t>(usedRows) * bytes);
        for (auto& b : start)
          b = static_cast<uint8_t>(rng());
        for (bool accumulate : {false, true}) {
          std::vector<std::vector<uint8_t>> results;
          for (SimdLevel level : levels) {
            std::vector<uint8_t> out = start;
            std::vector<uint8_t*> targets;
            for (int r = 0; r < usedRows; ++r)
              targets.push_back(out.data() + r * bytes);
            Combine({sources.data(), count, coefficients.data(), targets.data(), usedRows, bytes,
                     accumulate},
                    level);
            results.push_back(out);
          }
          for (size_t k = 1; k < results.size(); ++k) {
            EXPECT_EQ(results[k], results[0])
                << NameOf(levels[k]) << ": " << usedRows << " rows of " << bytes << " bytes, "
                << count << " sources" << (accumulate ? ", accumulating" : "");
          }
        }
      }
    }
  }
}

// A level the processor lacks is refused by the dispatcher and falls back to the plain kernel.
TEST(CauchyCode, LevelsTheProcessorLacksFallBack) {
  const CodeShape shape{6, 3, 50};
  const auto originals = SampleOriginals(shape);
  const auto plain = Parity(shape, originals, SimdLevel::Scalar);
  for (SimdLevel level : kAllLevels)
    EXPECT_EQ(Parity(shape, originals, level), plain) << NameOf(level);
  EXPECT_EQ(VectorKernelFor(SimdLevel::Scalar), nullptr);
}

// Blocks as received, each followed by guard bytes that nothing may write.
struct ReceivedBlocks {
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;
  size_t blockBytes;
  std::vector<std::vector<uint8_t>> storage;
  std::vector<Block> blocks;

  explicit ReceivedBlocks(size_t bytes) : blockBytes(bytes) {}
  void Add(const uint8_t* data, int index) {
    std::vector<uint8_t>& copy = storage.emplace_back(data, data + blockBytes);
    copy.resize(blockBytes + kGuard, kGuardByte);
    blocks.push_back({nullptr, index});
  }
  // Block pointers are taken once every block is stored (the storage may move while adding).
  std::vector<Block>& Blocks() {
    for (size_t k = 0; k < blocks.size(); ++k)
      blocks[k].data = storage[k].data();
    return blocks;
  }
  bool GuardsIntact() const {
    for (const auto& s : storage) {
      if (std::any_of(s.begin() + static_cast<ptrdiff_t>(blockBytes), s.end(),
                      [](uint8_t b) { return b != kGuardByte; })) {
        return false;
      }
    }
    return true;
  }
};

// Any n of the n + m blocks, in any order, rebuild the originals, writing only inside the
// blocks: every shape at the level in use, every eighth at the others (their kernels are held to
// the same bytes above).
TEST(CauchyCode, AnyOriginalCountOfBlocksRebuildsTheOriginals) {
  std::mt19937 rng(11);
  const auto shapes = SampleShapes();
  for (SimdLevel level : RunnableLevels()) {
    const size_t step = level == BestSimdLevel() ? 1 : 8;
    for (size_t s = 0; s < shapes.size(); s += step) {
      const CodeShape& shape = shapes[s];
      const int n = shape.originalCount;
      const auto originals = SampleOriginals(shape);
      const auto recovery = Parity(shape, originals, level);
      std::vector<int> order(static_cast<size_t>(n + shape.recoveryCount));
      std::iota(order.begin(), order.end(), 0);
      std::shuffle(order.begin(), order.end(), rng);
      ReceivedBlocks received(shape.blockBytes);
      for (int k = 0; k < n; ++k) {
        const int index = order[k];
        received.Add(index < n ? originals.data() + index * shape.blockBytes
                               : recovery.data() + (index - n) * shape.blockBytes,
                     index);
      }
      auto& blocks = received.Blocks();
      ASSERT_TRUE(Decode(shape, blocks, level)) << Describe(shape, level);
      std::vector<bool> seen(static_cast<size_t>(n), false);
      for (const Block& block : blocks) {
        ASSERT_TRUE(block.index >= 0 && block.index < n && !seen[block.index])
            << Describe(shape, level);
        seen[block.index] = true;
        EXPECT_TRUE(std::equal(block.data, block.data + shape.blockBytes,
                               originals.data() + block.index * shape.blockBytes))
            << "original " << block.index << ", " << Describe(shape, level);
      }
      EXPECT_TRUE(received.GuardsIntact()) << Describe(shape, level);
    }
  }
}

// Decoding refuses, writing nothing, what cannot name n distinct blocks of the code.
TEST(CauchyCode, DecodeRefusesBlocksThatCannotRebuild) {
  const CodeShape shape{4, 3, 40};
  const auto originals = SampleOriginals(shape);
  const auto recovery = Parity(shape, originals, SimdLevel::Scalar);
  const auto blockAt = [&](int index) {
    return index < 4 ? originals.data() + index * shape.blockBytes
                     : recovery.data() + (index - 4) * shape.blockBytes;
  };
  struct Case {
    const char* what;
    std::vector<int> indices;
    CodeShape shape;
  };
  const Case cases[] = {
      {"fewer than n blocks", {0, 4, 5}, shape},
      {"more than n blocks", {0, 1, 4, 5, 6}, shape},
      {"a duplicated recovery block", {0, 4, 4, 5}, shape},
      {"a duplicated original", {1, 1, 4, 5}, shape},
      {"an index past the code's blocks", {0, 1, 4, 7}, shape},
      {"an index of 256", {0, 1, 4, 256}, shape},
      {"an index far past 256", {0, 1, 4, 70000}, shape},
      {"a negative index", {0, 1, 4, -1}, shape},
      {"no original", {4, 5, 6, 0}, CodeShape{0, 3, 40}},
      {"more than 256 blocks", {0, 1, 4, 5}, CodeShape{4, 253, 40}},
      {"empty blocks", {0, 1, 4, 5}, CodeShape{4, 3, 0}},
  };
  for (const Case& c : cases) {
    ReceivedBlocks received(shape.blockBytes);
    for (int index : c.indices)
      received.Add(blockAt(std::clamp(index, 0, 6)), index);
    const auto before = received.storage;
    auto& blocks = received.Blocks();
    EXPECT_FALSE(Decode(c.shape, blocks)) << c.what;
    EXPECT_EQ(received.storage, before) << c.what;
    for (size_t k = 0; k < blocks.size(); ++k)
      EXPECT_EQ(blocks[k].index, c.indices[k]) << c.what;
  }
  ReceivedBlocks missingData(shape.blockBytes);
  for (int index : {0, 1, 4, 5})
    missingData.Add(blockAt(index), index);
  auto& blocks = missingData.Blocks();
  blocks[2].data = nullptr;
  EXPECT_FALSE(Decode(shape, blocks)) << "a block without bytes";
}

TEST(CauchyCode, EncodeRefusesShapesOutsideTheCode) {
  const std::vector<uint8_t> originals(300 * 8, 1);
  const auto pointers = BlockPointers(originals, 300, 8);
  std::vector<uint8_t> recovery(300 * 8, 0x5A);
  const CodeShape refused[] = {{0, 1, 8}, {256, 0, 8}, {200, 57, 8}, {3, -1, 8}, {3, 2, 0}};
  for (const CodeShape& shape : refused) {
    EXPECT_FALSE(Encode(shape, pointers.data(), recovery.data()))
        << shape.originalCount << "+" << shape.recoveryCount << " x " << shape.blockBytes;
  }
  EXPECT_FALSE(Encode({3, 2, 8}, nullptr, recovery.data()));
  EXPECT_FALSE(Encode({3, 2, 8}, pointers.data(), nullptr));
  std::vector<const uint8_t*> gap = {pointers[0], nullptr, pointers[2]};
  EXPECT_FALSE(Encode({3, 2, 8}, gap.data(), recovery.data()));
  EXPECT_TRUE(std::all_of(recovery.begin(), recovery.end(), [](uint8_t b) { return b == 0x5A; }));

  // The largest shapes are accepted, and only the recovery blocks are written.
  EXPECT_TRUE(Encode({255, 1, 8}, pointers.data(), recovery.data()));
  EXPECT_TRUE(Encode({3, 0, 8}, pointers.data(), nullptr)) << "no recovery blocks asked for";
  std::fill(recovery.begin(), recovery.end(), 0x5A);
  EXPECT_TRUE(Encode({128, 128, 8}, pointers.data(), recovery.data()));
  EXPECT_TRUE(
      std::all_of(recovery.begin() + 128 * 8, recovery.end(), [](uint8_t b) { return b == 0x5A; }));
}

}  // namespace
}  // namespace Sorvane::fec
