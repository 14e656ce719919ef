// The plug-in's read loop: client → plug-in messages, one after another, until the stream ends
// or a message cannot be read.
#include <cstddef>
#include <cstdint>

#include "net/control_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Sorvane::wire;
  BufferByteSource source(data, size);
  for (;;) {
    const ControlReadResult result = ReadClientMessage(source);
    if (result.status != ControlReadStatus::kMessage)
      break;
    const auto rule = ClientMessageRule(result.opcode);
    if (!rule || (rule->shape == PayloadShape::Fixed && result.payload.size() != rule->size))
      __builtin_trap();  // a message must match its framing rule
  }
  return 0;
}
