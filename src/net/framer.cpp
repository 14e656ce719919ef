#include "net/framer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"
#include "net/datagram_header.h"
#include "net/erasure_code.h"

namespace Sorvane {
namespace {

constexpr size_t kMaxDatagram = DatagramHeader::kSize + kParityPayloadBytes + 4;

size_t DataFragments(size_t length) {
  return (length + kFragmentBytes - 1) / kFragmentBytes;
}

// Parity really produced for a frame: only below 256 data fragments and with a working code.
size_t EffectiveParity(size_t dataFragments, uint8_t requested) {
  return dataFragments < kParityBelowFragments ? requested : 0;
}

}  // namespace

uint32_t VideoParityFor(size_t n) {
  if (n >= kParityBelowFragments)
    return 0;
  uint32_t p = static_cast<uint32_t>((n * 100 + 999) / 1000);
  p = std::min<uint32_t>(p, 63);
  if (n + p > 255)
    p = n < 255 ? static_cast<uint32_t>(255 - n) : 0;
  return p;
}

size_t CountDatagrams(size_t length, uint8_t parity) {
  if (length == 0 || length > kMaxFrameBytes)
    return 0;
  const size_t n = DataFragments(length);
  const size_t total = n + (fec::Initialised() ? EffectiveParity(n, parity) : 0);
  return total > kMaxFragmentTotal ? 0 : total;
}

uint32_t SendTimeNowUs() {
  return static_cast<uint32_t>(SteadyNowNs() / 1000);
}

bool BuildDatagrams(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                    uint32_t sequence, uint32_t timestampUs, const uint8_t* data, size_t length,
                    const DatagramSink& sink, bool sendTimeTrailer) {
  if (data == nullptr || length == 0 || length > kMaxFrameBytes)
    return false;
  const size_t n = DataFragments(length);
  const size_t p = EffectiveParity(n, parity);
  if (n + p > kMaxFragmentTotal)
    return false;

  DatagramHeader header;
  header.streamType = static_cast<uint8_t>(kind);
  header.frameId = frameId;
  header.timestampUs = timestampUs;
  header.fragmentTotal = static_cast<uint16_t>(n + p);
  const uint8_t parityBits = static_cast<uint8_t>((p & 0x3F) << 2);
  const uint8_t keyBit = keyframe ? DatagramHeader::kFlagKeyframe : 0;

  // Parity is computed before anything is emitted: the sink may move the data elsewhere. The
  // block buffers are reused per thread (the encoder output thread calls this every frame).
  thread_local std::vector<uint8_t> padded;
  thread_local std::vector<uint8_t> recovery;
  const bool withParity = p > 0 && fec::Initialised();
  if (withParity) {
    if (padded.size() < n * kFragmentBytes)
      padded.resize(n * kFragmentBytes);
    if (recovery.size() < p * kFragmentBytes)
      recovery.resize(p * kFragmentBytes);
    std::memcpy(padded.data(), data, length);
    std::memset(padded.data() + length, 0, n * kFragmentBytes - length);  // pad the last block
    fec::Encode(padded.data(), static_cast<int>(n), static_cast<int>(p), recovery.data());
  }

  uint8_t datagram[kMaxDatagram];
  header.flags = static_cast<uint8_t>(keyBit | parityBits |
                                      (sendTimeTrailer ? DatagramHeader::kFlagSendTime : 0));
  for (size_t i = 0; i < n; ++i) {
    const size_t offset = i * kFragmentBytes;
    const size_t payload = std::min(kFragmentBytes, length - offset);
    header.sequence = sequence++;
    header.fragmentIndex = static_cast<uint16_t>(i);
    header.payloadLength = static_cast<uint16_t>(payload);
    WriteDatagramHeader(datagram, header);
    std::memcpy(datagram + DatagramHeader::kSize, data + offset, payload);
    size_t size = DatagramHeader::kSize + payload;
    if (sendTimeTrailer) {
      PutU32LE(datagram + size, SendTimeNowUs());
      size += 4;
    }
    sink(datagram, size);
  }
  if (!withParity)
    return true;

  header.flags = static_cast<uint8_t>(keyBit | parityBits);
  const uint16_t lastLength = static_cast<uint16_t>(length - (n - 1) * kFragmentBytes);
  for (size_t j = 0; j < p; ++j) {
    header.sequence = sequence++;
    header.fragmentIndex = static_cast<uint16_t>(n + j);
    header.payloadLength = static_cast<uint16_t>(kParityPayloadBytes);
    WriteDatagramHeader(datagram, header);
    PutU16LE(datagram + DatagramHeader::kSize, lastLength);
    std::memcpy(datagram + DatagramHeader::kSize + 2, recovery.data() + j * kFragmentBytes,
                kFragmentBytes);
    sink(datagram, DatagramHeader::kSize + kParityPayloadBytes);
  }
  return true;
}

}  // namespace Sorvane
