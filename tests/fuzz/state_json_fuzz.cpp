// The state files as a hand edit or a damaged disk may leave them: the object reader, the
// lenient key scan of the install identity and the trusted-phone list.
#include <cstddef>
#include <cstdint>
#include <string>

#include "store/json_text.h"
#include "store/trusted_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Sorvane;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const JsonStringMembers& object : ReadJsonObjects(text)) {
    // What the writer makes of a value is read back unchanged.
    for (const auto& [key, value] : object) {
      const auto again = ReadJsonObjects("{\"k\":\"" + JsonEscape(value) + "\"}");
      if (again.size() != 1 || again[0].at("k") != value)
        __builtin_trap();
    }
  }
  for (const char* key : {"id", "name", "discoverable", "enableAsyncHwEncoders"})
    (void)JsonFindString(text, key);
  const std::vector<TrustedPeer> peers = trusted::Parse(text);
  if (trusted::Parse(trusted::Serialize(peers)) != peers)
    __builtin_trap();  // a list survives its own round trip
  return 0;
}
