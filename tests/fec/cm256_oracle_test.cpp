// Our erasure code against cm256 itself (Debian's libcm256cc): the same parity bytes, and each
// decodes what the other encoded.
#include <cm256cc/cm256.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "code_samples.h"
#include "fec/cauchy_code.h"

namespace Sorvane::fec {
namespace {

using testing::BlockPointers;
using testing::SampleOriginals;
using testing::SampleShapes;

CM256& Cm256() {
  static CM256 codec;
  return codec;
}

CM256::cm256_encoder_params ParamsOf(const CodeShape& shape) {
  return {shape.originalCount, shape.recoveryCount, static_cast<int>(shape.blockBytes)};
}

std::vector<uint8_t> Cm256Parity(const CodeShape& shape, const std::vector<uint8_t>& originals) {
  std::vector<CM256::cm256_block> blocks(static_cast<size_t>(shape.originalCount));
  for (int i = 0; i < shape.originalCount; ++i) {
    blocks[i].Block = const_cast<uint8_t*>(originals.data() + i * shape.blockBytes);
    blocks[i].Index = static_cast<unsigned char>(i);
  }
  std::vector<uint8_t> recovery(static_cast<size_t>(shape.recoveryCount) * shape.blockBytes);
  EXPECT_EQ(Cm256().cm256_encode(ParamsOf(shape), blocks.data(), recovery.data()), 0);
  return recovery;
}

std::vector<uint8_t> OurParity(const CodeShape& shape, const std::vector<uint8_t>& originals) {
  std::vector<uint8_t> recovery(static_cast<size_t>(shape.recoveryCount) * shape.blockBytes);
  const auto pointers = BlockPointers(originals, shape.originalCount, shape.blockBytes);
  EXPECT_TRUE(Encode(shape, pointers.data(), recovery.data()));
  return recovery;
}

// n of the n + m blocks, copied, in a random order: any erasure count the code survives.
struct Received {
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<int> indices;
};

Received Receive(const CodeShape& shape, const std::vector<uint8_t>& originals,
                 const std::vector<uint8_t>& recovery, std::mt19937& rng, bool mostErasures) {
  const int n = shape.originalCount;
  std::vector<int> all(static_cast<size_t>(n + shape.recoveryCount));
  std::iota(all.begin(), all.end(), 0);
  const int most = std::min(n, shape.recoveryCount);
  const int erasures = mostErasures ? most : std::uniform_int_distribution<int>(0, most)(rng);
  std::shuffle(all.begin(), all.begin() + n, rng);  // which originals are lost
  std::shuffle(all.begin() + n, all.end(), rng);    // which recovery blocks stand in
  std::vector<int> chosen(all.begin() + erasures, all.begin() + n);
  chosen.insert(chosen.end(), all.begin() + n, all.begin() + n + erasures);
  std::shuffle(chosen.begin(), chosen.end(), rng);
  Received received;
  for (int index : chosen) {
    const uint8_t* from = index < n ? originals.data() + index * shape.blockBytes
                                    : recovery.data() + (index - n) * shape.blockBytes;
    received.bytes.emplace_back(from, from + shape.blockBytes);
    received.indices.push_back(index);
  }
  return received;
}

// Whether the decoded blocks, put in index order, are the originals.
bool HoldsOriginals(const CodeShape& shape, const std::vector<uint8_t>& originals,
                    const std::vector<const uint8_t*>& data, const std::vector<int>& indices) {
  std::vector<bool> seen(static_cast<size_t>(shape.originalCount), false);
  for (size_t k = 0; k < data.size(); ++k) {
    const int i = indices[k];
    if (i < 0 || i >= shape.originalCount || seen[i] ||
        !std::equal(data[k], data[k] + shape.blockBytes, originals.data() + i * shape.blockBytes)) {
      return false;
    }
    seen[i] = true;
  }
  return true;
}

bool Cm256Decodes(const CodeShape& shape, const std::vector<uint8_t>& originals,
                  Received received) {
  std::vector<CM256::cm256_block> blocks(received.bytes.size());
  for (size_t k = 0; k < blocks.size(); ++k)
    blocks[k] = {received.bytes[k].data(), static_cast<unsigned char>(received.indices[k])};
  if (Cm256().cm256_decode(ParamsOf(shape), blocks.data()) != 0)
    return false;
  std::vector<const uint8_t*> data;
  std::vector<int> indices;
  for (const auto& block : blocks) {
    data.push_back(static_cast<const uint8_t*>(block.Block));
    indices.push_back(block.Index);
  }
  return HoldsOriginals(shape, originals, data, indices);
}

bool WeDecode(const CodeShape& shape, const std::vector<uint8_t>& originals, Received received) {
  std::vector<Block> blocks(received.bytes.size());
  for (size_t k = 0; k < blocks.size(); ++k)
    blocks[k] = {received.bytes[k].data(), received.indices[k]};
  if (!Decode(shape, blocks))
    return false;
  std::vector<const uint8_t*> data;
  std::vector<int> indices;
  for (const auto& block : blocks) {
    data.push_back(block.data);
    indices.push_back(block.index);
  }
  return HoldsOriginals(shape, originals, data, indices);
}

TEST(Cm256Oracle, SameParityForEveryVideoShapeAndTheEdges) {
  for (const CodeShape& shape : SampleShapes()) {
    const auto originals = SampleOriginals(shape);
    EXPECT_EQ(OurParity(shape, originals), Cm256Parity(shape, originals))
        << shape.originalCount << "+" << shape.recoveryCount << " x " << shape.blockBytes;
  }
}

TEST(Cm256Oracle, EachDecodesWhatTheOtherEncoded) {
  std::mt19937 rng(2026);
  for (const CodeShape& shape : SampleShapes()) {
    const auto originals = SampleOriginals(shape);
    const auto ours = OurParity(shape, originals);
    const auto theirs = Cm256Parity(shape, originals);
    for (int round = 0; round < 3; ++round) {
      const bool most = round == 0;
      EXPECT_TRUE(Cm256Decodes(shape, originals, Receive(shape, originals, ours, rng, most)))
          << "cm256 decoding ours, " << shape.originalCount << "+" << shape.recoveryCount;
      EXPECT_TRUE(WeDecode(shape, originals, Receive(shape, originals, theirs, rng, most)))
          << "ours decoding cm256's, " << shape.originalCount << "+" << shape.recoveryCount;
    }
  }
}

// The known-answer digests the Windows build checks are cm256's.
TEST(Cm256Oracle, KnownAnswersAreCm256s) {
  const auto shapes = SampleShapes();
  const auto& answers = testing::KnownAnswers();
  ASSERT_EQ(answers.size(), shapes.size()) << "regenerate cm256_known_answers.inc";
  for (size_t k = 0; k < shapes.size(); ++k) {
    const CodeShape& shape = shapes[k];
    EXPECT_EQ(answers[k].originalCount, shape.originalCount);
    EXPECT_EQ(answers[k].recoveryCount, shape.recoveryCount);
    EXPECT_EQ(answers[k].blockBytes, shape.blockBytes);
    EXPECT_EQ(answers[k].recoveryDigest,
              testing::Digest(Cm256Parity(shape, SampleOriginals(shape))))
        << shape.originalCount << "+" << shape.recoveryCount;
  }
}

// Writes cm256_known_answers.inc on standard output (run once, by hand).
TEST(Cm256Oracle, DISABLED_PrintKnownAnswers) {
  std::printf(
      "// Generated by sv_fec_oracle_tests --gtest_also_run_disabled_tests "
      "--gtest_filter='*PrintKnownAnswers'\n");
  for (const CodeShape& shape : SampleShapes()) {
    std::printf("{%d, %d, %zu, 0x%016" PRIx64 "ull},\n", shape.originalCount, shape.recoveryCount,
                shape.blockBytes, testing::Digest(Cm256Parity(shape, SampleOriginals(shape))));
  }
}

}  // namespace
}  // namespace Sorvane::fec
