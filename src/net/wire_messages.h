#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Payloads of every plug-in → client control message, written byte by byte (little-endian,
// length-prefixed text). Each matches the size its opcode has in the framing table.
namespace Sorvane::wire {

struct ControlMessage {
  uint8_t opcode = 0;
  std::vector<uint8_t> payload;
};

inline constexpr size_t kMaxEncoderInfoBytes = 200;
inline constexpr size_t kMaxEngineListInner = 255;

// Width, height and rate clamped to 0..65535; the encoder's frame-size cap.
ControlMessage StreamInfoMessage(int64_t width, int64_t height, int64_t fps, uint32_t frameCap);
ControlMessage HeartbeatMessage();
ControlMessage CommandAckMessage(uint8_t acknowledgedOpcode);
// Width and height clamped to 0..65535; the rate as IEEE-754 single precision.
ControlMessage SourceChangedMessage(int64_t width, int64_t height, float fps);
ControlMessage PlaybackStateMessage(bool playing);
ControlMessage PairingCodeRequiredMessage();
ControlMessage PairingAcceptedMessage(std::string_view token);
ControlMessage PairingRejectedMessage();
ControlMessage TransmitStateMessage(bool transmitting);
ControlMessage HostPlatformMessage(uint8_t platform, uint8_t architecture);
// The description cut to 200 bytes.
ControlMessage EncoderInfoMessage(std::string_view description);

struct EngineListEntry {
  std::string_view id;
  std::string_view label;
  std::string_view note;
};
// At most 255 entries, each text cut to 255 bytes. An inner payload of 256 bytes or more is cut
// to its first 255 bytes whatever entry that splits (the count byte unchanged); `innerBytes`
// receives the size before the cut, so the caller can say it truncated.
ControlMessage EncoderEngineListMessage(const std::vector<EngineListEntry>& engines,
                                        size_t* innerBytes = nullptr);

}  // namespace Sorvane::wire
