#pragma once
#include <string>

#include "net/control_reader.h"

namespace Sorvane::wire {

// The first message of every control connection: opcode 0x30, then the phone's id, name and
// stored token, each a u8 length and that many bytes (the token empty on a first pairing).
struct ClientHello {
  std::string id;
  std::string name;
  std::string token;
};

enum class ClientHelloStatus { kHello, kClosed, kNotHello, kMalformed };

struct ClientHelloResult {
  ClientHelloStatus status = ClientHelloStatus::kClosed;
  uint8_t opcode = 0;  // what came instead, with kNotHello
  ClientHello hello;
};

// Longest strings accepted; a longer length byte makes the Hello malformed.
inline constexpr size_t kMaxHelloIdBytes = 64;
inline constexpr size_t kMaxHelloNameBytes = 128;
inline constexpr size_t kMaxHelloTokenBytes = 128;

// Reads the Hello; stops at the first byte that shows it is something else.
ClientHelloResult ReadClientHello(ByteSource& source);

}  // namespace Sorvane::wire
