#include "net/client_hello.h"

#include "net/wire_opcodes.h"

namespace Sorvane::wire {
namespace {

bool ReadShortString(ByteSource& source, size_t maxBytes, std::string* out) {
  uint8_t length = 0;
  if (!source.ReadExactly(&length, 1) || length > maxBytes)
    return false;
  out->assign(length, '\0');
  return length == 0 || source.ReadExactly(reinterpret_cast<uint8_t*>(out->data()), length);
}

}  // namespace

ClientHelloResult ReadClientHello(ByteSource& source) {
  ClientHelloResult result;
  if (!source.ReadExactly(&result.opcode, 1))
    return result;
  if (result.opcode != kClientHello) {
    result.status = ClientHelloStatus::kNotHello;
    return result;
  }
  ClientHello& hello = result.hello;
  const bool whole = ReadShortString(source, kMaxHelloIdBytes, &hello.id) &&
                     ReadShortString(source, kMaxHelloNameBytes, &hello.name) &&
                     ReadShortString(source, kMaxHelloTokenBytes, &hello.token);
  result.status = whole ? ClientHelloStatus::kHello : ClientHelloStatus::kMalformed;
  return result;
}

}  // namespace Sorvane::wire
