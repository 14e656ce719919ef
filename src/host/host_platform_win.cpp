#include "host/host_platform.h"

namespace Sorvane {

HostPlatform CurrentHostPlatform() {
  return HostPlatform{1, 2, "Windows", "x86_64"};
}

}  // namespace Sorvane
