#include "net/wire_messages.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "net/wire_opcodes.h"

namespace Sorvane::wire {
namespace {

uint16_t Clamp16(int64_t value) {
  return static_cast<uint16_t>(std::clamp<int64_t>(value, 0, 65535));
}

void AppendShortString(std::vector<uint8_t>& out, std::string_view text) {
  const size_t n = std::min<size_t>(text.size(), 255);
  out.push_back(static_cast<uint8_t>(n));
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
}

ControlMessage Flag(uint8_t opcode, bool value) {
  return {opcode, {static_cast<uint8_t>(value ? 1 : 0)}};
}

}  // namespace

ControlMessage StreamInfoMessage(int64_t width, int64_t height, int64_t fps, uint32_t frameCap) {
  ControlMessage m{kStreamInfo, std::vector<uint8_t>(10)};
  PutU16LE(m.payload.data(), Clamp16(width));
  PutU16LE(m.payload.data() + 2, Clamp16(height));
  PutU16LE(m.payload.data() + 4, Clamp16(fps));
  PutU32LE(m.payload.data() + 6, frameCap);
  return m;
}

ControlMessage HeartbeatMessage() {
  return {kHeartbeat, {}};
}

ControlMessage CommandAckMessage(uint8_t acknowledgedOpcode) {
  return {kCommandAck, {acknowledgedOpcode}};
}

ControlMessage SourceChangedMessage(int64_t width, int64_t height, float fps) {
  static_assert(sizeof(float) == 4, "the wire carries IEEE-754 single precision");
  ControlMessage m{kSourceChanged, std::vector<uint8_t>(8)};
  PutU16LE(m.payload.data(), Clamp16(width));
  PutU16LE(m.payload.data() + 2, Clamp16(height));
  uint32_t bits = 0;
  std::memcpy(&bits, &fps, sizeof bits);
  PutU32LE(m.payload.data() + 4, bits);
  return m;
}

ControlMessage PlaybackStateMessage(bool playing) {
  return Flag(kPlaybackState, playing);
}

ControlMessage PairingCodeRequiredMessage() {
  return {kPairingCodeRequired, {}};
}

ControlMessage PairingAcceptedMessage(std::string_view token) {
  return {kPairingAccepted, ShortStringPayload(token)};
}

ControlMessage PairingRejectedMessage() {
  return {kPairingRejected, {}};
}

ControlMessage TransmitStateMessage(bool transmitting) {
  return Flag(kTransmitState, transmitting);
}

ControlMessage HostPlatformMessage(uint8_t platform, uint8_t architecture) {
  return {kHostPlatform, {platform, architecture}};
}

ControlMessage EncoderInfoMessage(std::string_view description) {
  return {kEncoderInfo, ShortStringPayload(description.substr(0, kMaxEncoderInfoBytes))};
}

ControlMessage EncoderEngineListMessage(const std::vector<EngineListEntry>& engines,
                                        size_t* innerBytes) {
  const size_t count = std::min<size_t>(engines.size(), 255);
  std::vector<uint8_t> inner;
  inner.push_back(static_cast<uint8_t>(count));
  for (size_t i = 0; i < count; ++i) {
    AppendShortString(inner, engines[i].id);
    AppendShortString(inner, engines[i].label);
    AppendShortString(inner, engines[i].note);
  }
  if (innerBytes != nullptr)
    *innerBytes = inner.size();
  inner.resize(std::min(inner.size(), kMaxEngineListInner));
  ControlMessage m{kEncoderEngineList, {}};
  m.payload.reserve(1 + inner.size());
  m.payload.push_back(static_cast<uint8_t>(inner.size()));
  m.payload.insert(m.payload.end(), inner.begin(), inner.end());
  return m;
}

}  // namespace Sorvane::wire
