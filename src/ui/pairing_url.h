#pragma once
#include <string>

#include "store/install_identity.h"

namespace Sorvane {

// Percent-encodes the UTF-8 bytes: A–Z, a–z, 0–9 and "-_.~" stay, every other byte becomes %XX.
std::string PercentEncode(const std::string& text);
// "sorvane://pair?v=3&id=<id>&name=<name>", both percent-encoded, for the phone's QR scan.
std::string BuildPairingUrl(const InstallIdentity& identity);

}  // namespace Sorvane
