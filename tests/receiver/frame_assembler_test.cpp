#include <gtest/gtest.h>

#include <algorithm>
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

std::vector<Datagram> Keyframe(uint16_t frameId, size_t size, uint8_t parity) {
  std::vector<uint8_t> data(size, 0x42);
  std::vector<Datagram> out;
  BuildDatagrams(
      StreamKind::Video, true, parity, frameId, 0, 5, data.data(), data.size(),
      [&](const uint8_t* d, size_t n) { out.emplace_back(d, d + n); }, true);
  return out;
}

// One datagram with a frame id far ahead (a stray, or a stranger's) must not make every real
// frame stale; the window jumps only when several consistent datagrams, or a whole keyframe,
// come from there.
TEST(FrameAssemblerWindow, OnlyConsistentDatagramsOrAKeyframeMoveTheWindowFarAway) {
  std::vector<uint16_t> delivered;
  FrameAssembler assembler([&](const AssembledFrame& f) { delivered.push_back(f.frameId); });
  auto push = [&](const std::vector<Datagram>& frame) {
    for (const auto& d : frame)
      assembler.Push(d.data(), d.size(), 0);
  };
  for (uint16_t id = 100; id < 103; ++id)
    push(Video(id, 2000, 0));
  const Datagram stray = Video(30000, 3000, 0)[0];
  assembler.Push(stray.data(), stray.size(), 0);
  for (uint16_t id = 103; id < 130; ++id)
    push(Video(id, 2000, 0));
  EXPECT_EQ(delivered.size(), 30u) << "the stray moved nothing";
  EXPECT_EQ(Rejected(assembler, RejectReason::Stale), 0u);

  push(Video(5000, 7000, 0));  // five consistent datagrams: the sender is really there now
  EXPECT_EQ(delivered.back(), 5000);
  EXPECT_EQ(Rejected(assembler, RejectReason::Unconfirmed), 1u) << "the stray was let go";
  push(Video(5001, 2000, 0));
  EXPECT_EQ(delivered.back(), 5001);

  push(Keyframe(60000, 100, 1));  // a whole keyframe, however small, is reason enough
  EXPECT_EQ(delivered.back(), 60000);
  push(Video(60001, 2000, 0));
  EXPECT_EQ(delivered.back(), 60001);
  EXPECT_EQ(Rejected(assembler, RejectReason::Stale), 0u);
}

// The last data fragment and every parity fragment state the last length; a fragment that
// disagrees with what the frame already holds is refused rather than cutting the frame wrong.
TEST(FrameAssemblerValidation, DisagreeingLastLengthsAreRefused) {
  int delivered = 0;
  FrameAssembler assembler([&](const AssembledFrame& f) {
    ++delivered;
    EXPECT_EQ(f.data.size(), 3000u);
  });
  const auto frame = Video(20, 3000, 2);  // 1440 + 1440 + 120, then two parity fragments
  ASSERT_EQ(frame.size(), 5u);
  Datagram lying = frame[3];
  PutU16LE(lying.data() + 22, 1000);
  assembler.Push(frame[4].data(), frame[4].size(), 0);
  assembler.Push(lying.data(), lying.size(), 0);
  EXPECT_EQ(Rejected(assembler, RejectReason::Inconsistent), 1u);
  assembler.Push(frame[0].data(), frame[0].size(), 0);
  assembler.Push(frame[1].data(), frame[1].size(), 0);
  EXPECT_EQ(delivered, 1) << "rebuilt from 0, 1 and 4 with the true length";
  EXPECT_EQ(assembler.stats().framesRebuiltByParity, 1u);
}

TEST(FrameAssemblerStreams, VideoAndAudioWithOneIdStayApart) {
  std::vector<uint8_t> types;
  FrameAssembler assembler([&](const AssembledFrame& f) { types.push_back(f.streamType); });
  std::vector<uint8_t> bytes(3000, 7);
  std::vector<Datagram> audio;
  BuildDatagrams(
      StreamKind::Audio, false, 0, 10, 0, 5, bytes.data(), bytes.size(),
      [&](const uint8_t* d, size_t n) { audio.emplace_back(d, d + n); }, false);
  const auto video = Video(10, 3000, 0);
  for (size_t i = 0; i < 3; ++i) {
    assembler.Push(video[i].data(), video[i].size(), 0);
    assembler.Push(audio[i].data(), audio[i].size(), 0);
  }
  EXPECT_EQ(types, std::vector<uint8_t>({1, 2}));
  EXPECT_EQ(assembler.stats().RejectedTotal(), 0u);
}

// Send times and the receive time on one clock give the one-way delay of each data datagram.
TEST(FrameAssemblerStats, OneWayDelayFromTheSendTimeTrailer) {
  AssembledFrame last;
  FrameAssembler assembler([&](const AssembledFrame& f) { last = f; });
  const auto frame = Video(3, 4000, 1);
  uint32_t newestSend = 0;
  for (const Datagram& d : frame) {
    const auto h = *ParseDatagramHeader(d.data(), d.size());
    if (!h.hasSendTime())
      continue;
    const uint32_t sent = GetU32LE(d.data() + d.size() - 4);
    newestSend = std::max(newestSend, sent);
    assembler.Push(d.data(), d.size(), sent + 250);
  }
  EXPECT_EQ(assembler.stats().delaySamples, 3u);
  EXPECT_DOUBLE_EQ(assembler.stats().delaySumUs / 3, 250.0);
  EXPECT_EQ(assembler.stats().delayMaxUs, 250u);
  EXPECT_TRUE(last.hasSendTime);
  EXPECT_EQ(last.lastSendTimeUs, newestSend);
  EXPECT_EQ(last.timestampUs, 5u);
}

}  // namespace
}  // namespace Sorvane::receiver
