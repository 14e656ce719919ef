#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/host_kind.h"

// The per-user application-support folder and the identifiers and random values of the system.
// Stateless free functions; every failure degrades to a fixed fallback.
namespace Sorvane {

// The user's roaming application-data folder (platform rules with fallbacks that never fail).
std::filesystem::path RoamingAppDataDir();
// RoamingAppDataDir() / "Sorvane"; creates nothing.
std::filesystem::path AppSupportDir();
// True when the app-support folder exists as a directory after the call.
bool EnsureAppSupportDir();

// The computer's name as UTF-8 ("PC" when it cannot be read).
std::string DefaultDisplayName();
// A new UUID in 8-4-4-4-12 lower-case text (the nil UUID on failure).
std::string NewInstallId();
// n random bytes as 2n lower-case hex characters; empty when n is 0 or randomness failed.
std::string RandomHex(size_t n);
// 32 random bytes as 64 hex characters.
std::string GeneratePairingToken();
// Six decimal digits with leading zeros; empty when randomness failed (a fixed code would let
// anyone pair).
std::string GeneratePairingCode();
// The code for a random 32-bit value (exposed for tests).
std::string PairingCodeFromRandom(uint32_t value);

namespace pathsdetail {
// Platform half: fills `out` with cryptographic random bytes; false on failure.
bool FillRandom(void* out, size_t n);
}  // namespace pathsdetail

}  // namespace Sorvane
