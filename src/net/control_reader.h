#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Framing of the control channel. There is no length field: the opcode fixes the payload's size,
// and the few variable messages carry their own length bytes. One table per direction says how
// each opcode's payload is read; the plug-in's read loop and the reference receiver both read
// through it, so a size can never disagree between them.
namespace Sorvane::wire {

enum class PayloadShape : uint8_t {
  Fixed,           // exactly `size` bytes
  LengthPrefixed,  // u8 n, then n bytes
  Snapshot,        // 6 bytes, then the n that byte 5 gives
};

struct PayloadRule {
  uint8_t opcode;
  const char* name;
  PayloadShape shape;
  uint8_t size;               // Fixed only
  const char* truncatedText;  // the whole (or head / length) could not be read
  const char* truncatedTail;  // the variable part could not be read
};

// The rule for an opcode in each direction; nullopt for an opcode that direction does not know.
std::optional<PayloadRule> ClientMessageRule(uint8_t opcode);
std::optional<PayloadRule> PluginMessageRule(uint8_t opcode);

// Where the bytes come from (a socket, a buffer in tests).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // All n bytes, or false when the stream ended or failed first.
  virtual bool ReadExactly(uint8_t* buffer, size_t n) = 0;
};

enum class ControlReadStatus { kMessage, kClosed, kTruncated, kUnknownOpcode };

struct ControlReadResult {
  ControlReadStatus status = ControlReadStatus::kClosed;
  uint8_t opcode = 0;
  std::vector<uint8_t> payload;         // as read, including a variable form's length bytes
  const char* truncatedText = nullptr;  // set with kTruncated
};

// Reads one client→plug-in message (what the plug-in's read loop does after pairing).
ControlReadResult ReadClientMessage(ByteSource& source);
// Reads one plug-in→client message (what a client does).
ControlReadResult ReadPluginMessage(ByteSource& source);

// A byte source over a buffer (tests, and messages already in memory).
class BufferByteSource final : public ByteSource {
 public:
  BufferByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadExactly(uint8_t* buffer, size_t n) override;
  size_t remaining() const { return size_ - offset_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace Sorvane::wire
