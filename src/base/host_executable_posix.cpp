#include <unistd.h>

#include "base/host_kind.h"

namespace Sorvane {

std::string HostExecutablePath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0)
    return {};
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace Sorvane
