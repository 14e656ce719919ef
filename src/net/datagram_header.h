#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace Sorvane {

// The 22-byte little-endian header of every media datagram.
struct DatagramHeader {
  static constexpr size_t kSize = 22;
  static constexpr uint8_t kVersion = 2;
  static constexpr uint8_t kFlagKeyframe = 0x01;
  static constexpr uint8_t kFlagSendTime = 0x02;

  uint8_t streamType = 0;  // 1 video, 2 audio
  uint8_t flags = 0;       // bit 0 keyframe, bit 1 send-time trailer, bits 2-7 parity count
  uint16_t frameId = 0;
  uint32_t sequence = 0;
  uint32_t timestampUs = 0;
  uint16_t fragmentIndex = 0;
  uint16_t fragmentTotal = 0;
  uint16_t payloadLength = 0;

  bool keyframe() const { return (flags & kFlagKeyframe) != 0; }
  bool hasSendTime() const { return (flags & kFlagSendTime) != 0; }
  uint8_t parityCount() const { return static_cast<uint8_t>(flags >> 2); }
};

// Writes the header into `out` (kSize bytes): magic "SVV", version, then the fields.
void WriteDatagramHeader(uint8_t* out, const DatagramHeader& header);

// Reads the header fields; nullopt when there are fewer than kSize bytes or the magic or version
// is wrong. Field values are not otherwise checked here.
std::optional<DatagramHeader> ParseDatagramHeader(const uint8_t* data, size_t size);

}  // namespace Sorvane
