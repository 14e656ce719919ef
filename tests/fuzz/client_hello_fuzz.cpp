// The first message of a control connection, then what the handshake reads after it.
#include <cstddef>
#include <cstdint>

#include "net/client_hello.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Sorvane::wire;
  BufferByteSource source(data, size);
  const ClientHelloResult result = ReadClientHello(source);
  if (result.status == ClientHelloStatus::kHello &&
      (result.hello.id.size() > kMaxHelloIdBytes || result.hello.name.size() > kMaxHelloNameBytes ||
       result.hello.token.size() > kMaxHelloTokenBytes)) {
    __builtin_trap();  // the limits are the parser's promise
  }
  return 0;
}
