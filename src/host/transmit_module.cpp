// The transmit plug-in's exported host entry.
#include "host/transmit_entry.h"
#include "sdk/export.h"

extern "C" SV_EXPORT Sorvane::sdk::tmResult xTransmitEntry(
    Sorvane::sdk::csSDK_int32 interfaceVersion, Sorvane::sdk::prBool loadModule,
    Sorvane::sdk::piSuitesPtr suites, Sorvane::sdk::tmModule* outModule) {
  return Sorvane::TransmitEntry(interfaceVersion, loadModule, suites, outModule);
}
