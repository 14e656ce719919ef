// Random and mutated datagrams, in bounded time: nothing crashes, nothing is read out of bounds
// (this program also runs under AddressSanitizer) and memory stays within the assembler's bound.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "base/byte_order.h"
#include "net/framer.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane::receiver {
namespace {

using Datagram = std::vector<uint8_t>;

std::vector<Datagram> Corpus(std::mt19937& rng) {
  std::vector<Datagram> corpus;
  for (uint16_t id = 0; id < 40; ++id) {
    std::vector<uint8_t> frame(1 + rng() % 60000);
    for (auto& b : frame)
      b = static_cast<uint8_t>(rng());
    const bool audio = id % 5 == 0;
    BuildDatagrams(
        audio ? StreamKind::Audio : StreamKind::Video, id % 7 == 0,
        audio ? 0 : static_cast<uint8_t>(rng() % 4), id, 0, id, frame.data(), frame.size(),
        [&](const uint8_t* d, size_t n) { corpus.emplace_back(d, d + n); }, !audio);
  }
  return corpus;
}

void Mutate(Datagram& d, std::mt19937& rng) {
  switch (rng() % 6) {
    case 0:  // a few bytes anywhere
      for (int k = 0; k < 3 && !d.empty(); ++k)
        d[rng() % d.size()] = static_cast<uint8_t>(rng());
      break;
    case 1:  // cut or grown
      d.resize(rng() % (d.size() + 8));
      break;
    case 2:  // noise
      for (auto& b : d)
        b = static_cast<uint8_t>(rng());
      break;
    case 3:  // another frame id
      PutU16LE(d.data() + 6, static_cast<uint16_t>(rng()));
      break;
    case 4:  // lying counts and lengths
      PutU16LE(d.data() + 16 + 2 * (rng() % 3), static_cast<uint16_t>(rng()));
      break;
    default:  // as sent
      break;
  }
}

TEST(FrameAssemblerFuzz, SurvivesRandomAndMutatedInput) {
  std::mt19937 rng(42);
  FrameAssembler::Options options;
  options.maxBufferedBytes = 1 << 20;
  options.windowFrames = 8;
  size_t deliveredBytes = 0;
  FrameAssembler assembler([&](const AssembledFrame& f) { deliveredBytes += f.data.size(); },
                           options);
  const std::vector<Datagram> corpus = Corpus(rng);
  size_t peakBytes = 0, peakFrames = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int i = 0; i < 200000 && std::chrono::steady_clock::now() < deadline; ++i) {
    Datagram d = corpus[rng() % corpus.size()];
    Mutate(d, rng);
    // An exact-size copy: any read past the end is a heap overflow that the sanitizer reports.
    std::vector<uint8_t> exact(d.begin(), d.end());
    assembler.Push(exact.empty() ? nullptr : exact.data(), exact.size(),
                   static_cast<uint32_t>(rng()));
    peakBytes = std::max(peakBytes, assembler.BufferedBytes());
    peakFrames = std::max(peakFrames, assembler.PendingFrames());
  }
  EXPECT_LE(peakBytes, options.maxBufferedBytes);
  EXPECT_LE(peakFrames, 2u * options.windowFrames) << "a window per stream";
  EXPECT_GT(assembler.stats().RejectedTotal(), 1000u);
  EXPECT_GT(assembler.stats().framesComplete, 0u);
  assembler.Flush();
  EXPECT_EQ(assembler.BufferedBytes(), 0u);
  EXPECT_EQ(assembler.PendingFrames(), 0u);
  SUCCEED() << "delivered " << deliveredBytes << " bytes";
}

// Headers that announce the largest frames cost only what arrives.
TEST(FrameAssemblerFuzz, AbsurdTotalsAllocateNothingAhead) {
  FrameAssembler::Options options;
  options.maxBufferedBytes = 256 * 1024;
  FrameAssembler assembler([](const AssembledFrame&) {}, options);
  std::vector<uint8_t> frame(1440, 1);
  Datagram d;
  BuildDatagrams(
      StreamKind::Audio, false, 0, 0, 0, 0, frame.data(), frame.size(),
      [&](const uint8_t* p, size_t n) { d.assign(p, p + n); }, false);
  for (uint16_t id = 0; id < 2000; ++id) {
    PutU16LE(d.data() + 6, id);
    PutU16LE(d.data() + 18, 65535);  // a frame of 65535 fragments, never completed
    PutU16LE(d.data() + 16, static_cast<uint16_t>(id % 100));
    assembler.Push(d.data(), d.size(), 0);
    ASSERT_LE(assembler.BufferedBytes(), options.maxBufferedBytes);
  }
  EXPECT_GT(assembler.stats().framesLost, 1900u);
}

}  // namespace
}  // namespace Sorvane::receiver
