// The transmit plug-in's exported host entry and the control-surface plug-in's way back in.
#include "host/transmit_entry.h"
#include "net/shared_transport.h"
#include "sdk/export.h"

extern "C" SV_EXPORT Sorvane::sdk::tmResult xTransmitEntry(
    Sorvane::sdk::csSDK_int32 interfaceVersion, Sorvane::sdk::prBool loadModule,
    Sorvane::sdk::piSuitesPtr suites, Sorvane::sdk::tmModule* outModule) {
  return Sorvane::RunGuarded<Sorvane::TransmitEntryFailure>("xTransmitEntry", [&] {
    return Sorvane::TransmitEntry(interfaceVersion, loadModule, suites, outModule);
  });
}

// Called by the control-surface plug-in's poll when the host's play state changes: tells the
// phone. 1 when the message was queued, 0 when not (no paired client).
extern "C" SV_EXPORT uint8_t sv_transmit_publish_playback_state(uint32_t playing) {
  static Sorvane::HostEntryGuard guard(Sorvane::channels::kTransmit,
                                       "sv_transmit_publish_playback_state");
  return guard.Run<uint8_t>(0, 0, [playing]() -> uint8_t {
    return Sorvane::SharedTransport::Instance().PublishPlaybackState(playing != 0) ? 1 : 0;
  });
}
