#pragma once
#include <string>

#include "ui/setup_status_text.h"

namespace Sorvane {

class SharedTransport;

// One consistent-enough snapshot of what the status rows show, read through the transport's
// thread-safe readers; never blocks on the network.
StreamStatusInputs ReadStreamStatus(SharedTransport& transport);

// The status rows as text lines for a terminal: the device line, the encoder line, then every
// group with its rows ("  Label  value").
std::string SetupStatusReport(const StreamStatusInputs& in,
                              const std::vector<NetworkInterfaceEntry>& interfaces,
                              uint16_t controlPort);

}  // namespace Sorvane
