#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "base/byte_order.h"
#include "net/datagram_header.h"
#include "net/framer.h"
#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane {
namespace {

using Datagram = std::vector<uint8_t>;

std::vector<Datagram> Frame(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                            uint32_t sequence, const std::vector<uint8_t>& data, bool trailer) {
  std::vector<Datagram> out;
  const bool ok = BuildDatagrams(
      kind, keyframe, parity, frameId, sequence, 777, data.data(), data.size(),
      [&](const uint8_t* d, size_t n) { out.emplace_back(d, d + n); }, trailer);
  if (!ok)
    out.clear();
  return out;
}

DatagramHeader Header(const Datagram& d) {
  return *ParseDatagramHeader(d.data(), d.size());
}

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng) {
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes)
    b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(VideoParityRule, TenPercentRoundedUpWithinTheCode) {
  const std::vector<std::pair<size_t, uint32_t>> table = {
      {1, 1}, {10, 1}, {11, 2}, {100, 10}, {250, 5}, {254, 1}, {255, 0}, {256, 0}, {1000, 0}};
  for (const auto& [n, p] : table)
    EXPECT_EQ(VideoParityFor(n), p) << n;
  EXPECT_EQ(VideoParityFor(240), 15u);
  for (size_t n = 1; n < 256; ++n)
    EXPECT_LE(n + VideoParityFor(n), 255u) << n;
}

TEST(DatagramHeaderLayout, LittleEndianFieldsBehindTheMagic) {
  DatagramHeader h;
  h.streamType = 1;
  h.flags = 0x07;
  h.frameId = 0x1234;
  h.sequence = 0xA1B2C3D4;
  h.timestampUs = 0x01020304;
  h.fragmentIndex = 5;
  h.fragmentTotal = 6;
  h.payloadLength = 1440;
  uint8_t bytes[22];
  WriteDatagramHeader(bytes, h);
  const uint8_t expected[22] = {'S',  'V',  'V',  2,    1,    0x07, 0x34, 0x12, 0xD4, 0xC3, 0xB2,
                                0xA1, 0x04, 0x03, 0x02, 0x01, 5,    0,    6,    0,    0xA0, 0x05};
  EXPECT_TRUE(std::equal(bytes, bytes + 22, expected));
  const auto parsed = ParseDatagramHeader(bytes, 22);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->sequence, 0xA1B2C3D4u);
  EXPECT_EQ(parsed->parityCount(), 1);
  bytes[3] = 1;
  EXPECT_FALSE(ParseDatagramHeader(bytes, 22)) << "wrong version";
  EXPECT_FALSE(ParseDatagramHeader(bytes, 21));
}

TEST(Framer, OneFragmentKeyframeCarriesItsParityCopy) {
  std::mt19937 rng(1);
  const auto data = RandomBytes(1440, rng);
  const auto datagrams = Frame(StreamKind::Video, true, 1, 9, 100, data, true);
  ASSERT_EQ(datagrams.size(), 2u);
  const DatagramHeader d = Header(datagrams[0]), p = Header(datagrams[1]);
  EXPECT_EQ(d.flags, 0x07);
  EXPECT_EQ(d.fragmentIndex, 0);
  EXPECT_EQ(d.fragmentTotal, 2);
  EXPECT_EQ(d.payloadLength, 1440);
  EXPECT_EQ(datagrams[0].size(), 22u + 1440 + 4);
  EXPECT_EQ(p.flags, 0x05);
  EXPECT_EQ(p.fragmentIndex, 1);
  EXPECT_EQ(p.payloadLength, 1442);
  EXPECT_EQ(datagrams[1].size(), 1464u);
  EXPECT_EQ(GetU16LE(datagrams[1].data() + 22), 1440);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), datagrams[1].begin() + 24))
      << "with a single block the parity equals the data";
  EXPECT_EQ(d.sequence, 100u);
  EXPECT_EQ(p.sequence, 101u);
}

TEST(Framer, ShortLastFragmentAndItsLengthInTheParity) {
  std::mt19937 rng(2);
  const auto datagrams = Frame(StreamKind::Video, false, 1, 1, 0, RandomBytes(1441, rng), true);
  ASSERT_EQ(datagrams.size(), 3u);
  EXPECT_EQ(Header(datagrams[0]).payloadLength, 1440);
  EXPECT_EQ(Header(datagrams[1]).payloadLength, 1);
  EXPECT_EQ(Header(datagrams[2]).flags, 0x04);
  EXPECT_EQ(GetU16LE(datagrams[2].data() + 22), 1);
}

TEST(Framer, LimitsOfFrameSizeAndParity) {
  EXPECT_EQ(CountDatagrams(0, 1), 0u);
  EXPECT_EQ(CountDatagrams(kMaxFrameBytes, 0), 65535u);
  EXPECT_EQ(CountDatagrams(kMaxFrameBytes + 1, 0), 0u);
  EXPECT_EQ(CountDatagrams(256 * 1440, 5), 256u) << "no parity from 256 data fragments on";
  std::vector<uint8_t> big(kMaxFrameBytes + 1, 1);
  size_t emitted = 0;
  EXPECT_FALSE(BuildDatagrams(
      StreamKind::Video, false, 0, 0, 0, 0, big.data(), big.size(),
      [&](const uint8_t*, size_t) { ++emitted; }, true));
  EXPECT_EQ(emitted, 0u);
  big.pop_back();
  uint16_t lastTotal = 0;
  EXPECT_TRUE(BuildDatagrams(
      StreamKind::Video, false, 0, 0, 0, 0, big.data(), big.size(),
      [&](const uint8_t* d, size_t n) {
        ++emitted;
        lastTotal = ParseDatagramHeader(d, n)->fragmentTotal;
      },
      false));
  EXPECT_EQ(emitted, 65535u);
  EXPECT_EQ(lastTotal, 65535);

  std::mt19937 rng(3);
  const auto large = Frame(StreamKind::Video, true, 9, 0, 0, RandomBytes(367201, rng), true);
  ASSERT_EQ(large.size(), 256u);
  EXPECT_EQ(Header(large[0]).flags, 0x03) << "parity bits zero above 255 data fragments";
  EXPECT_EQ(Header(large[0]).fragmentTotal, 256);
}

TEST(Framer, AudioHasNoParityFlagsOrTrailer) {
  std::mt19937 rng(4);
  const auto datagrams = Frame(StreamKind::Audio, false, 0, 4, 50, RandomBytes(8200, rng), false);
  ASSERT_EQ(datagrams.size(), 6u);
  for (const auto& d : datagrams) {
    EXPECT_EQ(Header(d).flags, 0);
    EXPECT_EQ(Header(d).streamType, 2);
    EXPECT_LE(d.size(), 1462u);
  }
  EXPECT_EQ(Header(datagrams.back()).payloadLength, 8200 - 5 * 1440);
}

// Asking for more parity than the code can compute (n + p above its 256 blocks) sends the data
// and announces the parity, but never sends blocks the code did not fill.
TEST(Framer, ParityTheCodeCannotComputeIsNotSent) {
  std::mt19937 rng(8);
  const auto data = RandomBytes(250 * 1440, rng);
  EXPECT_EQ(CountDatagrams(data.size(), 10), 250u);
  const auto datagrams = Frame(StreamKind::Video, false, 10, 3, 0, data, true);
  ASSERT_EQ(datagrams.size(), 250u);
  EXPECT_EQ(Header(datagrams[0]).fragmentTotal, 260);
  EXPECT_EQ(Header(datagrams[0]).parityCount(), 10);
}

// The erasure code is part of every build (the Windows DLLs included): announced parity is sent.
TEST(Framer, EveryBuildSendsTheParityItAnnounces) {
  std::mt19937 rng(9);
  const auto datagrams = Frame(StreamKind::Video, true, 1, 9, 100, RandomBytes(1440, rng), true);
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(Header(datagrams[0]).flags, 0x07);
  EXPECT_EQ(Header(datagrams[1]).fragmentTotal, 2);
  EXPECT_EQ(CountDatagrams(1440, 1), 2u);
}

// The list the pacer takes holds exactly what the sink sees; the trailer is the monotonic clock
// read while building.
TEST(Framer, ListAndSinkGiveTheSameDatagrams) {
  std::mt19937 rng(10);
  const auto data = RandomBytes(20000, rng);
  const uint8_t parity = 2;
  const auto viaSink = Frame(StreamKind::Video, true, parity, 77, 5, data, false);
  DatagramList viaList(1, Datagram{1, 2, 3});  // appended to, not replaced
  ASSERT_TRUE(BuildDatagrams(StreamKind::Video, true, parity, 77, 5, 777, data.data(), data.size(),
                             viaList, false));
  ASSERT_EQ(viaList.size(), viaSink.size() + 1);
  EXPECT_TRUE(std::equal(viaSink.begin(), viaSink.end(), viaList.begin() + 1));

  const uint32_t before = SendTimeNowUs();
  DatagramList timed;
  ASSERT_TRUE(
      BuildDatagrams(StreamKind::Video, false, 0, 1, 0, 0, data.data(), data.size(), timed, true));
  const uint32_t after = SendTimeNowUs();
  for (const auto& d : timed) {
    ASSERT_EQ(d.size(), 22u + Header(d).payloadLength + 4);
    const uint32_t sent = GetU32LE(d.data() + d.size() - 4);
    EXPECT_LE(sent - before, after - before) << "read while building";
  }
  DatagramList refused;
  EXPECT_FALSE(BuildDatagrams(StreamKind::Video, false, 0, 1, 0, 0, data.data(), 0, refused, true));
  EXPECT_TRUE(refused.empty());
}

TEST(Framer, SequenceAndFrameIdWrapSilently) {
  std::mt19937 rng(5);
  const auto datagrams =
      Frame(StreamKind::Audio, false, 0, 65535, 4294967295u, RandomBytes(3000, rng), false);
  ASSERT_EQ(datagrams.size(), 3u);
  EXPECT_EQ(Header(datagrams[0]).sequence, 4294967295u);
  EXPECT_EQ(Header(datagrams[1]).sequence, 0u);
  EXPECT_EQ(Header(datagrams[0]).frameId, 65535);
}

// Frames of many sizes survive shuffling and up to p erasures; with more they are lost, never
// corrupted.
TEST(FrameRoundTrip, AnyNOfNPlusPRebuildsTheFrame) {
  std::mt19937 rng(6);
  size_t rebuilt = 0, lost = 0, delivered = 0;
  std::vector<uint8_t> expected;
  receiver::FrameAssembler assembler([&](const receiver::AssembledFrame& frame) {
    ++delivered;
    EXPECT_EQ(frame.data, expected);
    if (frame.rebuiltByParity)
      ++rebuilt;
  });
  const size_t sizes[] = {1,     2,     1439,   1440,       1441,           2880,   14400, 14401,
                          30000, 99999, 300000, 232 * 1440, 254 * 1440 - 7, 367200, 400000};
  uint16_t frameId = 0;
  for (size_t size : sizes) {
    const size_t n = (size + 1439) / 1440;
    const uint32_t p = VideoParityFor(n);
    for (size_t erasures : {size_t{0}, size_t{1}, size_t{p}, size_t{p} + 1, n + p - 1}) {
      expected = RandomBytes(size, rng);
      auto datagrams = Frame(StreamKind::Video, frameId % 3 == 0, static_cast<uint8_t>(p), frameId,
                             0, expected, true);
      ASSERT_EQ(datagrams.size(), n + p);
      std::shuffle(datagrams.begin(), datagrams.end(), rng);
      const size_t drop = std::min(erasures, datagrams.size() - 1);
      datagrams.resize(datagrams.size() - drop);
      const uint64_t lostBefore = assembler.stats().framesLost;
      const size_t deliveredBefore = delivered;
      for (const auto& d : datagrams)
        assembler.Push(d.data(), d.size(), 0);
      assembler.Flush();
      const bool recoverable = drop <= p;
      EXPECT_EQ(delivered - deliveredBefore, recoverable ? 1u : 0u) << size << " -" << drop;
      if (!recoverable) {
        EXPECT_EQ(assembler.stats().framesLost, lostBefore + 1);
        ++lost;
      }
      ++frameId;
    }
  }
  EXPECT_GT(rebuilt, 20u);
  EXPECT_GT(lost, 10u);
  EXPECT_EQ(assembler.stats().RejectedTotal(), 0u);
}

TEST(FrameRoundTrip, WithoutParityAllDataIsNeeded) {
  std::mt19937 rng(7);
  std::vector<uint8_t> expected = RandomBytes(5000, rng);
  int delivered = 0;
  receiver::FrameAssembler assembler([&](const receiver::AssembledFrame& frame) {
    ++delivered;
    EXPECT_EQ(frame.data, expected);
    EXPECT_EQ(frame.streamType, 2);
  });
  auto datagrams = Frame(StreamKind::Audio, false, 0, 1, 0, expected, false);
  std::reverse(datagrams.begin(), datagrams.end());
  for (const auto& d : datagrams)
    assembler.Push(d.data(), d.size(), 0);
  EXPECT_EQ(delivered, 1);
}

}  // namespace
}  // namespace Sorvane
