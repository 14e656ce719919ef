#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/control_reader.h"

// The client's view of the plug-in's control messages: payloads as the framing reader returns
// them (variable forms with their length bytes), decoded into plain records. Every decoder
// checks the size it is given, so it can be used on bytes from anywhere.
namespace Sorvane::receiver {

struct StreamInfo {
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t fps = 0;
  uint32_t frameCap = 0;
};

struct SourceChanged {
  uint16_t width = 0;
  uint16_t height = 0;
  float fps = 0;
};

struct HostPlatform {
  uint8_t platform = 0;
  uint8_t architecture = 0;
};

struct EngineEntry {
  std::string id;
  std::string label;
  std::string note;
};

struct EngineList {
  uint8_t announcedCount = 0;  // the count byte; more than `engines` holds when the list was cut
  std::vector<EngineEntry> engines;
  bool lastEntryCut = false;  // the list ended inside an entry
};

std::optional<StreamInfo> DecodeStreamInfo(const std::vector<uint8_t>& payload);
std::optional<SourceChanged> DecodeSourceChanged(const std::vector<uint8_t>& payload);
std::optional<HostPlatform> DecodeHostPlatform(const std::vector<uint8_t>& payload);
// kCommandAck's opcode, kPlaybackState's and kTransmitState's flag.
std::optional<uint8_t> DecodeByte(const std::vector<uint8_t>& payload);
// kPairingAccepted's token, kEncoderInfo's description: u8 n, then n bytes.
std::optional<std::string> DecodeShortString(const std::vector<uint8_t>& payload);
// Tolerates a last entry that ends early (kept with what it has).
std::optional<EngineList> DecodeEngineList(const std::vector<uint8_t>& payload);

// Reads plug-in → client messages from a byte source (a socket, a capture), one at a time.
class ControlMessageReader {
 public:
  explicit ControlMessageReader(wire::ByteSource& source) : source_(source) {}
  // One message, or why there is none (closed, truncated with its text, unknown opcode).
  wire::ControlReadResult Next() { return wire::ReadPluginMessage(source_); }
  // The message's name in the framing table ("kStreamInfo", …), "?" for an unknown opcode.
  static const char* Name(uint8_t opcode);

 private:
  wire::ByteSource& source_;
};

}  // namespace Sorvane::receiver
