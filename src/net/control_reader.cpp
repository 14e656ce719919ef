#include "net/control_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "net/wire_opcodes.h"

namespace Sorvane::wire {
namespace {

using S = PayloadShape;

constexpr PayloadRule kClientRules[] = {
    {kRequestIdr, "RequestIDR", S::Fixed, 0, nullptr, nullptr},
    {kSetBitrate, "SetBitrate", S::Fixed, 4, "control: truncated SetBitrate", nullptr},
    {kReceiverReport, "ReceiverReport", S::Fixed, 24, "control: truncated ReceiverReport", nullptr},
    {kSetGopMode, "SetGopMode", S::Fixed, 1, "control: truncated SetGopMode", nullptr},
    {kSetCodec, "SetCodec", S::Fixed, 1, "control: truncated SetCodec", nullptr},
    {kSetMaxResolution, "SetMaxResolution", S::Fixed, 2, "control: truncated SetMaxResolution",
     nullptr},
    {kSetEncoderMode, "SetEncoderMode", S::Fixed, 2, "control: truncated SetEncoderMode", nullptr},
    {kSetAutoMode, "SetAutoMode", S::Fixed, 4, "control: truncated 0x0A (retired)", nullptr},
    {kSetHardFrameCap, "SetHardFrameCap", S::Fixed, 4, "control: truncated SetHardFrameCap",
     nullptr},
    {kSetCongestionController, "SetCongestionController", S::Fixed, 1,
     "control: truncated 0x0C (retired)", nullptr},
    {kReceiverReportV2, "ReceiverReportV2", S::Fixed, 32, "control: truncated ReceiverReportV2",
     nullptr},
    {kSetPlaybackPrefer, "SetPlaybackPrefer", S::Fixed, 1, "control: truncated 0x10 (retired)",
     nullptr},
    {kSetMode, "SetMode", S::Fixed, 1, "control: truncated SetMode", nullptr},
    {kSetMaxLatency, "SetMaxLatency", S::Fixed, 2, "control: truncated SetMaxLatency", nullptr},
    {kSetEncoderEngine, "SetEncoderEngine", S::LengthPrefixed, 0,
     "control: truncated SetEncoderEngine len", "control: truncated SetEncoderEngine body"},
    {kAppTelemetry, "AppTelemetry", S::Fixed, 10, "control: truncated AppTelemetry", nullptr},
    {kSetTransitionMode, "SetTransitionMode", S::Fixed, 1, "control: truncated SetTransitionMode",
     nullptr},
    {kAppSettingsSnapshot, "AppSettingsSnapshot", S::Snapshot, 6,
     "control: truncated AppSettingsSnapshot head", "control: truncated AppSettingsSnapshot tail"},
    {kSetFullQualityWhenPaused, "SetFullQualityWhenPaused", S::Fixed, 1,
     "control: truncated SetFullQualityWhenPaused", nullptr},
    {kTestMarker, "TestMarker", S::LengthPrefixed, 0, "control: truncated TestMarker len",
     "control: truncated TestMarker body"},
};

constexpr PayloadRule kPluginRules[] = {
    {kStreamInfo, "kStreamInfo", S::Fixed, 10, "truncated kStreamInfo", nullptr},
    {kHeartbeat, "kHeartbeat", S::Fixed, 0, nullptr, nullptr},
    {kCommandAck, "kCommandAck", S::Fixed, 1, "truncated kCommandAck", nullptr},
    {kSourceChanged, "kSourceChanged", S::Fixed, 8, "truncated kSourceChanged", nullptr},
    {kPlaybackState, "kPlaybackState", S::Fixed, 1, "truncated kPlaybackState", nullptr},
    {kPairingCodeRequired, "kPairingCodeRequired", S::Fixed, 0, nullptr, nullptr},
    {kPairingAccepted, "kPairingAccepted", S::LengthPrefixed, 0, "truncated kPairingAccepted len",
     "truncated kPairingAccepted body"},
    {kPairingRejected, "kPairingRejected", S::Fixed, 0, nullptr, nullptr},
    {kTransmitState, "kTransmitState", S::Fixed, 1, "truncated kTransmitState", nullptr},
    {kHostPlatform, "kHostPlatform", S::Fixed, 2, "truncated kHostPlatform", nullptr},
    {kEncoderInfo, "kEncoderInfo", S::LengthPrefixed, 0, "truncated kEncoderInfo len",
     "truncated kEncoderInfo body"},
    {kEncoderEngineList, "kEncoderEngineList", S::LengthPrefixed, 0,
     "truncated kEncoderEngineList len", "truncated kEncoderEngineList body"},
};

template <size_t N>
std::optional<PayloadRule> Find(const PayloadRule (&rules)[N], uint8_t opcode) {
  for (const PayloadRule& rule : rules) {
    if (rule.opcode == opcode)
      return rule;
  }
  return std::nullopt;
}

ControlReadResult Truncated(uint8_t opcode, const char* text) {
  ControlReadResult result;
  result.status = ControlReadStatus::kTruncated;
  result.opcode = opcode;
  result.truncatedText = text;
  return result;
}

// Reads `n` more payload bytes onto the end of `payload`.
bool ReadMore(ByteSource& source, std::vector<uint8_t>& payload, size_t n) {
  const size_t at = payload.size();
  payload.resize(at + n);
  return n == 0 || source.ReadExactly(payload.data() + at, n);
}

ControlReadResult ReadWith(ByteSource& source,
                           std::optional<PayloadRule> (*ruleFor)(uint8_t opcode)) {
  ControlReadResult result;
  uint8_t opcode = 0;
  if (!source.ReadExactly(&opcode, 1))
    return result;  // closed between messages
  result.opcode = opcode;
  const std::optional<PayloadRule> rule = ruleFor(opcode);
  if (!rule) {
    result.status = ControlReadStatus::kUnknownOpcode;
    return result;
  }
  switch (rule->shape) {
    case PayloadShape::Fixed:
      if (!ReadMore(source, result.payload, rule->size)) {
        return Truncated(opcode, rule->truncatedText);
      }
      break;
    case PayloadShape::LengthPrefixed:
      if (!ReadMore(source, result.payload, 1))
        return Truncated(opcode, rule->truncatedText);
      if (!ReadMore(source, result.payload, result.payload[0])) {
        return Truncated(opcode, rule->truncatedTail);
      }
      break;
    case PayloadShape::Snapshot:
      if (!ReadMore(source, result.payload, 6))
        return Truncated(opcode, rule->truncatedText);
      if (!ReadMore(source, result.payload, result.payload[5])) {
        return Truncated(opcode, rule->truncatedTail);
      }
      break;
  }
  result.status = ControlReadStatus::kMessage;
  return result;
}

}  // namespace

std::optional<PayloadRule> ClientMessageRule(uint8_t opcode) {
  if (IsTransportCommand(opcode)) {
    return PayloadRule{opcode, "TransportCommand", S::Fixed, 0, nullptr, nullptr};
  }
  return Find(kClientRules, opcode);
}

std::optional<PayloadRule> PluginMessageRule(uint8_t opcode) {
  return Find(kPluginRules, opcode);
}

ControlReadResult ReadClientMessage(ByteSource& source) {
  return ReadWith(source, ClientMessageRule);
}

ControlReadResult ReadPluginMessage(ByteSource& source) {
  return ReadWith(source, PluginMessageRule);
}

bool BufferByteSource::ReadExactly(uint8_t* buffer, size_t n) {
  if (n > size_ - offset_) {
    offset_ = size_;
    return false;
  }
  std::memcpy(buffer, data_ + offset_, n);
  offset_ += n;
  return true;
}

std::vector<uint8_t> ShortStringPayload(std::string_view text) {
  const size_t n = std::min<size_t>(text.size(), 255);
  std::vector<uint8_t> payload;
  payload.reserve(n + 1);
  payload.push_back(static_cast<uint8_t>(n));
  payload.insert(payload.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  return payload;
}

}  // namespace Sorvane::wire
