#include "net/framer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"
#include "fec/cauchy_code.h"
#include "net/datagram_header.h"

namespace Sorvane {
namespace {

constexpr size_t kMaxDatagram = DatagramHeader::kSize + kParityPayloadBytes + 4;

size_t DataFragments(size_t length) {
  return (length + kFragmentBytes - 1) / kFragmentBytes;
}

// Parity the headers announce: the requested count below 256 data fragments.
size_t AnnouncedParity(size_t dataFragments, uint8_t requested) {
  return dataFragments < kParityBelowFragments ? requested : 0;
}

fec::CodeShape ShapeOf(size_t dataFragments, size_t parity) {
  return {static_cast<int>(dataFragments), static_cast<int>(parity), kFragmentBytes};
}

// Parity really sent: only for a shape the code can compute (at most 256 blocks). Sending none is
// what a receiver already copes with; sending blocks the code did not fill would corrupt frames.
size_t ProducedParity(size_t dataFragments, uint8_t requested) {
  const size_t p = AnnouncedParity(dataFragments, requested);
  return p > 0 && fec::IsValid(ShapeOf(dataFragments, p)) ? p : 0;
}

// One datagram as up to four pieces laid end to end (header, parity prefix, payload, trailer).
struct Pieces {
  std::array<const uint8_t*, 4> data{};
  std::array<size_t, 4> size{};
  size_t count = 0;
  size_t total = 0;
  void Add(const uint8_t* bytes, size_t n) {
    data[count] = bytes;
    size[count++] = n;
    total += n;
  }
};

// Parity blocks over the frame. Full blocks are read where they lie in the frame; only a short
// last block is copied, zero-padded. Buffers are reused per thread: the encoder output thread
// calls this for every frame.
const uint8_t* ComputeParity(const uint8_t* data, size_t length, size_t n, size_t p) {
  thread_local std::vector<const uint8_t*> blocks;
  thread_local std::array<uint8_t, kFragmentBytes> lastBlock;
  thread_local std::vector<uint8_t> recovery;
  blocks.resize(n);
  for (size_t i = 0; i < n; ++i)
    blocks[i] = data + i * kFragmentBytes;
  const size_t lastLength = length - (n - 1) * kFragmentBytes;
  if (lastLength < kFragmentBytes) {
    std::memcpy(lastBlock.data(), blocks[n - 1], lastLength);
    std::memset(lastBlock.data() + lastLength, 0, kFragmentBytes - lastLength);
    blocks[n - 1] = lastBlock.data();
  }
  if (recovery.size() < p * kFragmentBytes)
    recovery.resize(p * kFragmentBytes);
  if (!fec::Encode(ShapeOf(n, p), blocks.data(), recovery.data()))
    return nullptr;
  return recovery.data();
}

// Writes every datagram of a frame and hands each, as pieces, to `emit`.
template <typename Emit>
bool Build(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId, uint32_t sequence,
           uint32_t timestampUs, const uint8_t* data, size_t length, bool sendTimeTrailer,
           Emit&& emit) {
  if (data == nullptr || length == 0 || length > kMaxFrameBytes)
    return false;
  const size_t n = DataFragments(length);
  const size_t announced = AnnouncedParity(n, parity);
  if (n + announced > kMaxFragmentTotal)
    return false;
  // Parity is computed before anything is emitted: the sink may move the frame elsewhere.
  const size_t p = ProducedParity(n, parity);
  const uint8_t* recovery = p > 0 ? ComputeParity(data, length, n, p) : nullptr;

  DatagramHeader header;
  header.streamType = static_cast<uint8_t>(kind);
  header.frameId = frameId;
  header.timestampUs = timestampUs;
  header.fragmentTotal = static_cast<uint16_t>(n + announced);
  const auto parityBits = static_cast<uint8_t>((announced & kMaxAnnouncedParity) << 2);
  const uint8_t keyBit = keyframe ? DatagramHeader::kFlagKeyframe : 0;
  uint8_t head[DatagramHeader::kSize];
  uint8_t trailer[4];

  header.flags = static_cast<uint8_t>(keyBit | parityBits |
                                      (sendTimeTrailer ? DatagramHeader::kFlagSendTime : 0));
  for (size_t i = 0; i < n; ++i) {
    const size_t offset = i * kFragmentBytes;
    const size_t payload = std::min(kFragmentBytes, length - offset);
    header.sequence = sequence++;
    header.fragmentIndex = static_cast<uint16_t>(i);
    header.payloadLength = static_cast<uint16_t>(payload);
    WriteDatagramHeader(head, header);
    Pieces pieces;
    pieces.Add(head, sizeof head);
    pieces.Add(data + offset, payload);
    if (sendTimeTrailer) {
      PutU32LE(trailer, SendTimeNowUs());
      pieces.Add(trailer, sizeof trailer);
    }
    emit(pieces);
  }
  if (recovery == nullptr)
    return true;

  header.flags = static_cast<uint8_t>(keyBit | parityBits);
  uint8_t lastLength[2];
  PutU16LE(lastLength, static_cast<uint16_t>(length - (n - 1) * kFragmentBytes));
  for (size_t j = 0; j < p; ++j) {
    header.sequence = sequence++;
    header.fragmentIndex = static_cast<uint16_t>(n + j);
    header.payloadLength = static_cast<uint16_t>(kParityPayloadBytes);
    WriteDatagramHeader(head, header);
    Pieces pieces;
    pieces.Add(head, sizeof head);
    pieces.Add(lastLength, sizeof lastLength);
    pieces.Add(recovery + j * kFragmentBytes, kFragmentBytes);
    emit(pieces);
  }
  return true;
}

}  // namespace

uint32_t VideoParityFor(size_t n) {
  if (n >= kParityBelowFragments)
    return 0;
  uint32_t p = static_cast<uint32_t>((n * 100 + 999) / 1000);
  p = std::min<uint32_t>(p, kMaxAnnouncedParity);
  if (n + p > 255)
    p = n < 255 ? static_cast<uint32_t>(255 - n) : 0;
  return p;
}

size_t CountDatagrams(size_t length, uint8_t parity) {
  if (length == 0 || length > kMaxFrameBytes)
    return 0;
  const size_t n = DataFragments(length);
  if (n + AnnouncedParity(n, parity) > kMaxFragmentTotal)
    return 0;
  return n + ProducedParity(n, parity);
}

uint32_t SendTimeNowUs() {
  return static_cast<uint32_t>(SteadyNowNs() / 1000);
}

bool BuildDatagrams(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                    uint32_t sequence, uint32_t timestampUs, const uint8_t* data, size_t length,
                    const DatagramSink& sink, bool sendTimeTrailer) {
  uint8_t datagram[kMaxDatagram];
  return Build(kind, keyframe, parity, frameId, sequence, timestampUs, data, length,
               sendTimeTrailer, [&](const Pieces& pieces) {
                 size_t at = 0;
                 for (size_t k = 0; k < pieces.count; ++k) {
                   std::memcpy(datagram + at, pieces.data[k], pieces.size[k]);
                   at += pieces.size[k];
                 }
                 sink(datagram, at);
               });
}

bool BuildDatagrams(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                    uint32_t sequence, uint32_t timestampUs, const uint8_t* data, size_t length,
                    DatagramList& out, bool sendTimeTrailer) {
  out.reserve(out.size() + CountDatagrams(length, parity));
  return Build(kind, keyframe, parity, frameId, sequence, timestampUs, data, length,
               sendTimeTrailer, [&](const Pieces& pieces) {
                 std::vector<uint8_t>& datagram = out.emplace_back();
                 datagram.reserve(pieces.total);
                 for (size_t k = 0; k < pieces.count; ++k)
                   datagram.insert(datagram.end(), pieces.data[k], pieces.data[k] + pieces.size[k]);
               });
}

}  // namespace Sorvane
