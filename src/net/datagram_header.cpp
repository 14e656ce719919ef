#include "net/datagram_header.h"

#include "base/byte_order.h"

namespace Sorvane {

void WriteDatagramHeader(uint8_t* out, const DatagramHeader& h) {
  out[0] = 'S';
  out[1] = 'V';
  out[2] = 'V';
  out[3] = DatagramHeader::kVersion;
  out[4] = h.streamType;
  out[5] = h.flags;
  PutU16LE(out + 6, h.frameId);
  PutU32LE(out + 8, h.sequence);
  PutU32LE(out + 12, h.timestampUs);
  PutU16LE(out + 16, h.fragmentIndex);
  PutU16LE(out + 18, h.fragmentTotal);
  PutU16LE(out + 20, h.payloadLength);
}

std::optional<DatagramHeader> ParseDatagramHeader(const uint8_t* data, size_t size) {
  if (data == nullptr || size < DatagramHeader::kSize)
    return std::nullopt;
  if (data[0] != 'S' || data[1] != 'V' || data[2] != 'V' || data[3] != DatagramHeader::kVersion) {
    return std::nullopt;
  }
  DatagramHeader h;
  h.streamType = data[4];
  h.flags = data[5];
  h.frameId = GetU16LE(data + 6);
  h.sequence = GetU32LE(data + 8);
  h.timestampUs = GetU32LE(data + 12);
  h.fragmentIndex = GetU16LE(data + 16);
  h.fragmentTotal = GetU16LE(data + 18);
  h.payloadLength = GetU16LE(data + 20);
  return h;
}

}  // namespace Sorvane
