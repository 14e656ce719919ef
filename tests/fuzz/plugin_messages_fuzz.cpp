// The client side: plug-in → client messages read and each payload given to its decoder.
#include <cstddef>
#include <cstdint>

#include "net/control_reader.h"
#include "net/wire_opcodes.h"
#include "sv-receiver/lib/plugin_messages.h"

namespace {

void Decode(const Sorvane::wire::ControlReadResult& message) {
  using namespace Sorvane;
  const std::vector<uint8_t>& payload = message.payload;
  switch (message.opcode) {
    case wire::kStreamInfo:
      (void)receiver::DecodeStreamInfo(payload);
      break;
    case wire::kSourceChanged:
      (void)receiver::DecodeSourceChanged(payload);
      break;
    case wire::kHostPlatform:
      (void)receiver::DecodeHostPlatform(payload);
      break;
    case wire::kPairingAccepted:
    case wire::kEncoderInfo:
      (void)receiver::DecodeShortString(payload);
      break;
    default:
      break;
  }
  // Every decoder checks the size it is given, whatever the opcode said.
  (void)receiver::DecodeEngineList(payload);
  (void)receiver::DecodeByte(payload);
  (void)receiver::DecodeShortString(payload);
  (void)receiver::ControlMessageReader::Name(message.opcode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sorvane::wire::BufferByteSource source(data, size);
  Sorvane::receiver::ControlMessageReader reader(source);
  for (;;) {
    const Sorvane::wire::ControlReadResult result = reader.Next();
    if (result.status != Sorvane::wire::ControlReadStatus::kMessage)
      break;
    Decode(result);
  }
  return 0;
}
