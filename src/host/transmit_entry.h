#pragma once
#include "host/transmit_instance.h"
#include "sdk/transmit.h"

namespace Sorvane {

// The body of the exported xTransmitEntry: fills the host's module table.
sdk::tmResult TransmitEntry(sdk::csSDK_int32 interfaceVersion, sdk::prBool loadModule,
                            sdk::piSuitesPtr suites, sdk::tmModule* outModule);

// The encoder factory new instances use (the platform's default unless replaced; tests only).
void SetEncoderFactoryForTesting(EncoderFactoryFn factory);

}  // namespace Sorvane
