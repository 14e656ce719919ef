#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <vector>

#include "base/byte_order.h"
#include "net/datagram_header.h"
#include "net/framer.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane::receiver {
namespace {

using Datagram = std::vector<uint8_t>;

std::vector<Datagram> Video(uint16_t frameId, size_t size, uint8_t parity, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data(size);
  for (auto& b : data)
    b = static_cast<uint8_t>(rng());
  std::vector<Datagram> out;
  BuildDatagrams(
      StreamKind::Video, false, parity, frameId, 0, 5, data.data(), data.size(),
      [&](const uint8_t* d, size_t n) { out.emplace_back(d, d + n); }, true);
  return out;
}

uint64_t Rejected(const FrameAssembler& a, RejectReason reason) {
  return a.stats().rejected[static_cast<size_t>(reason)];
}

TEST(FrameAssemblerValidation, EveryMalformedFieldHasItsReason) {
  FrameAssembler assembler([](const AssembledFrame&) { FAIL() << "nothing valid was sent"; });
  const Datagram good = Video(1, 3000, 0)[0];
  auto mutate = [&](size_t offset, uint8_t value) {
    Datagram d = good;
    d[offset] = value;
    return d;
  };
  auto push = [&](const Datagram& d) { assembler.Push(d.data(), d.size(), 0); };
  push(Datagram(good.begin(), good.begin() + 10));
  EXPECT_EQ(Rejected(assembler, RejectReason::TooShort), 1u);
  push(mutate(0, 'X'));
  push(mutate(3, 9));
  EXPECT_EQ(Rejected(assembler, RejectReason::BadMagicOrVersion), 2u);
  push(mutate(4, 7));
  EXPECT_EQ(Rejected(assembler, RejectReason::BadStreamType), 1u);
  Datagram zeroTotal = mutate(18, 0);
  zeroTotal[19] = 0;
  push(zeroTotal);
  EXPECT_EQ(Rejected(assembler, RejectReason::ZeroTotal), 1u);
  push(mutate(16, 3));  // index 3 of total 3
  EXPECT_EQ(Rejected(assembler, RejectReason::IndexOutOfRange), 1u);
  push(mutate(5, 0x02 | (3 << 2)));  // parity 3 of total 3: no data left
  EXPECT_EQ(Rejected(assembler, RejectReason::BadFlags), 1u);
  push(mutate(20, 0x10));  // claims a longer payload than it carries
  push(Datagram(good.begin(), good.end() - 5));
  EXPECT_EQ(Rejected(assembler, RejectReason::BadPayloadLength), 2u);
  Datagram noTrailerFlag = mutate(5, 0x00);
  noTrailerFlag.resize(noTrailerFlag.size() - 4);
  push(noTrailerFlag);
  EXPECT_EQ(Rejected(assembler, RejectReason::MissingTrailer), 1u);
  Datagram absurd = good;
  PutU16LE(absurd.data() + 18, 65535);
  push(absurd);  // a huge announced frame costs only what arrived
  EXPECT_EQ(assembler.stats().datagramsAccepted, 1u);
}

TEST(FrameAssemblerValidation, DuplicatesInconsistenciesAndStaleFragments) {
  int delivered = 0;
  FrameAssembler assembler([&](const AssembledFrame&) { ++delivered; });
  const auto frame = Video(10, 3000, 0);
  assembler.Push(frame[0].data(), frame[0].size(), 0);
  assembler.Push(frame[0].data(), frame[0].size(), 0);
  EXPECT_EQ(Rejected(assembler, RejectReason::Duplicate), 1u);
  Datagram other = frame[1];
  PutU32LE(other.data() + 12, 999);  // another timestamp for the same frame id
  assembler.Push(other.data(), other.size(), 0);
  EXPECT_EQ(Rejected(assembler, RejectReason::Inconsistent), 1u);
  for (size_t i = 1; i < frame.size(); ++i)
    assembler.Push(frame[i].data(), frame[i].size(), 0);
  EXPECT_EQ(delivered, 1);
  assembler.Push(frame[1].data(), frame[1].size(), 0);
  EXPECT_EQ(assembler.stats().lateFragments, 1u) << "a spare fragment of a delivered frame";
}

TEST(FrameAssemblerWindow, IncompleteFramesAreGivenUpAcrossTheWrap) {
  std::vector<uint16_t> delivered;
  FrameAssembler assembler([&](const AssembledFrame& f) { delivered.push_back(f.frameId); });
  const auto stuck = Video(65530, 5000, 0);
  assembler.Push(stuck[0].data(), stuck[0].size(), 0);  // never completes
  for (uint16_t id = 65531; id != 20; ++id) {
    for (const auto& d : Video(id, 2000, 0))
      assembler.Push(d.data(), d.size(), 0);
  }
  EXPECT_EQ(assembler.stats().framesLost, 1u);
  EXPECT_EQ(delivered.size(), 25u);
  EXPECT_EQ(delivered.back(), 19);
}

// Random and mutated datagrams, in bounded time: nothing crashes and memory stays bounded.
TEST(FrameAssemblerFuzz, SurvivesRandomAndMutatedInput) {
  std::mt19937 rng(42);
  FrameAssembler::Options options;
  options.maxBufferedBytes = 1 << 20;
  size_t deliveredBytes = 0;
  FrameAssembler assembler([&](const AssembledFrame& f) { deliveredBytes += f.data.size(); },
                           options);
  std::vector<Datagram> corpus;
  for (uint16_t id = 0; id < 40; ++id) {
    for (auto& d : Video(id, 1 + rng() % 60000, static_cast<uint8_t>(rng() % 4), id)) {
      corpus.push_back(std::move(d));
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int i = 0; i < 200000 && std::chrono::steady_clock::now() < deadline; ++i) {
    Datagram d = corpus[rng() % corpus.size()];
    switch (rng() % 4) {
      case 0:
        for (int k = 0; k < 3; ++k)
          d[rng() % d.size()] = static_cast<uint8_t>(rng());
        break;
      case 1:
        d.resize(rng() % (d.size() + 8));
        break;
      case 2:
        for (auto& b : d)
          b = static_cast<uint8_t>(rng());
        break;
      default:
        if (d.size() >= 22)
          PutU16LE(d.data() + 6, static_cast<uint16_t>(rng()));
        break;
    }
    assembler.Push(d.data(), d.size(), static_cast<uint32_t>(rng()));
  }
  EXPECT_GT(assembler.stats().RejectedTotal(), 1000u);
  SUCCEED() << "delivered " << deliveredBytes << " bytes";
}

}  // namespace
}  // namespace Sorvane::receiver
