// Stands in for the transmit plug-in in the control-surface tests: a module named Sorvane.prm
// whose publish export records what it was told.
#include <atomic>
#include <cstdint>

#include "sdk/export.h"

namespace {
std::atomic<uint32_t> published[64];
std::atomic<uint32_t> count{0};
}  // namespace

extern "C" SV_EXPORT uint8_t sv_transmit_publish_playback_state(uint32_t playing) {
  const uint32_t at = count.fetch_add(1);
  if (at < 64)
    published[at].store(playing);
  return 1;
}

// Copies up to `capacity` published states into `out`; returns how many were published.
extern "C" SV_EXPORT uint32_t fake_published_states(uint32_t* out, uint32_t capacity) {
  const uint32_t n = count.load();
  for (uint32_t i = 0; i < n && i < capacity && i < 64; ++i)
    out[i] = published[i].load();
  return n;
}
