#pragma once
#include "diag/log_channels.h"
#include "diag/host_entry_guard.h"
#include "host/transmit_instance.h"
#include "sdk/transmit.h"

namespace Sorvane {

// What a transmit entry answers when it throws: −4, the one error value the table uses.
struct TransmitEntryFailure {
  static constexpr LogChannel kChannel = channels::kTransmit;
  static constexpr sdk::tmResult kOutOfMemory = sdk::tmResult_ErrorUnsupported;
  static constexpr sdk::tmResult kFailed = sdk::tmResult_ErrorUnsupported;
};

// The body of the exported xTransmitEntry: fills the host's module table.
sdk::tmResult TransmitEntry(sdk::csSDK_int32 interfaceVersion, sdk::prBool loadModule,
                            sdk::piSuitesPtr suites, sdk::tmModule* outModule);

// The encoder factory new instances use (the platform's default unless replaced; tests only).
void SetEncoderFactoryForTesting(EncoderFactoryFn factory);

}  // namespace Sorvane
