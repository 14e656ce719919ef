#include "store/app_paths.h"

#include <cstdio>
#include <system_error>

#include "diag/log_channels.h"
#include "diag/log_text.h"

namespace Sorvane {

std::filesystem::path AppSupportDir() {
  return RoamingAppDataDir() / "Sorvane";
}

bool EnsureAppSupportDir() {
  const std::filesystem::path dir = AppSupportDir();
  std::error_code ec;
  if (std::filesystem::exists(dir, ec))
    return std::filesystem::is_directory(dir, ec);
  if (std::filesystem::create_directories(dir, ec) || std::filesystem::is_directory(dir, ec)) {
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    return true;
  }
  Log(channels::kPaths, kLogError, "EnsureAppSupportDir: create_directories(%s) failed: %s",
      PathForLog(dir).c_str(), ec.message().c_str());
  return false;
}

std::string RandomHex(size_t n) {
  if (n == 0)
    return {};
  std::string bytes(n, '\0');
  if (!pathsdetail::FillRandom(bytes.data(), n))
    return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * n);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  return hex;
}

std::string GeneratePairingToken() {
  return RandomHex(32);
}

std::string PairingCodeFromRandom(uint32_t value) {
  char code[8];
  std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(value % 1000000u));
  return code;
}

std::string GeneratePairingCode() {
  uint32_t value = 0;
  if (!pathsdetail::FillRandom(&value, sizeof value))
    return {};
  return PairingCodeFromRandom(value);
}

}  // namespace Sorvane
