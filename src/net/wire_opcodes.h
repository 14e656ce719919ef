#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

// The control channel's one-byte opcodes, both directions.
namespace Sorvane::wire {

enum ControlOpcode : uint8_t {
  // Client to plug-in.
  kRequestIdr = 0x01,
  kSetBitrate = 0x02,  // retired
  kReceiverReport = 0x03,
  kSetGopMode = 0x04,
  kSetCodec = 0x05,
  kSetMaxResolution = 0x07,
  kSetEncoderMode = 0x08,
  kSetAutoMode = 0x0A,              // retired
  kSetHardFrameCap = 0x0B,          // retired
  kSetCongestionController = 0x0C,  // retired
  kReceiverReportV2 = 0x0E,
  kSetPlaybackPrefer = 0x10,  // retired
  kSetMode = 0x11,            // retired
  kSetMaxLatency = 0x12,      // retired
  kSetEncoderEngine = 0x13,
  kAppTelemetry = 0x14,       // retired
  kSetTransitionMode = 0x15,  // retired
  kAppSettingsSnapshot = 0x18,
  kSetFullQualityWhenPaused = 0x19,  // retired
  kTransportCommandFirst = 0x20,
  kTransportCommandLast = 0x29,
  kClientHello = 0x30,
  kPairingCode = 0x32,
  kTestMarker = 0x40,
  // Plug-in to client.
  kStreamInfo = 0x06,
  kHeartbeat = 0x09,
  kCommandAck = 0x0F,
  kSourceChanged = 0x16,
  kPlaybackState = 0x1A,
  kPairingCodeRequired = 0x31,
  kPairingAccepted = 0x33,
  kPairingRejected = 0x34,
  kTransmitState = 0x35,
  kHostPlatform = 0x36,
  kEncoderInfo = 0x37,
  kEncoderEngineList = 0x38,
};

inline bool IsTransportCommand(uint8_t opcode) {
  return opcode >= kTransportCommandFirst && opcode <= kTransportCommandLast;
}

// The heartbeat and the pairing replies are the only messages sent before pairing succeeds.
inline bool MaySendBeforePairing(uint8_t opcode) {
  return opcode == kHeartbeat || opcode == kPairingCodeRequired || opcode == kPairingAccepted ||
         opcode == kPairingRejected;
}

// A length-prefixed text field: u8 n, then n bytes (text cut at 255 bytes).
std::vector<uint8_t> ShortStringPayload(std::string_view text);

}  // namespace Sorvane::wire
