// Read-outs for a host-side setup view (the simulator's --setup), exported next to the entry.
#include <cstring>
#include <string>

#include "net/shared_transport.h"
#include "sdk/export.h"
#include "store/install_identity.h"
#include "ui/pairing_url.h"
#include "ui/setup_status_source.h"

namespace {

// Copies as much as fits, always NUL-terminated; returns the full length.
size_t CopyOut(const std::string& text, char* buffer, size_t capacity) {
  if (buffer != nullptr && capacity > 0) {
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size();
}

}  // namespace

extern "C" SV_EXPORT size_t sv_transmit_pairing_url(char* buffer, size_t capacity) {
  return CopyOut(Sorvane::BuildPairingUrl(Sorvane::installid::LoadOrCreate()), buffer, capacity);
}

extern "C" SV_EXPORT size_t sv_transmit_setup_status(char* buffer, size_t capacity) {
  using namespace Sorvane;
  const StreamStatusInputs in = ReadStreamStatus(SharedTransport::Instance());
  return CopyOut(SetupStatusReport(in, EnumerateIPv4Interfaces()), buffer, capacity);
}
