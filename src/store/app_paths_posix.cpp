#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "store/app_paths.h"

namespace Sorvane {
namespace {

const char* NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

}  // namespace

std::filesystem::path RoamingAppDataDir() {
  if (const char* appData = NonEmptyEnv("APPDATA"))
    return appData;
  if (const char* config = NonEmptyEnv("XDG_CONFIG_HOME"))
    return config;
  if (const char* home = NonEmptyEnv("HOME"))
    return std::filesystem::path(home) / ".config";
  return ".";
}

std::string DefaultDisplayName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
    return "PC";
  return name;
}

std::string NewInstallId() {
  unsigned char b[16];
  if (!pathsdetail::FillRandom(b, sizeof b))
    return "00000000-0000-0000-0000-000000000000";
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

namespace pathsdetail {

bool FillRandom(void* out, size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    const ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace pathsdetail
}  // namespace Sorvane
