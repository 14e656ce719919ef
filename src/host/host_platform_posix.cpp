#include "host/host_platform.h"

namespace Sorvane {

// Not Windows: 3 is a value the client cannot mistake for the Windows build (1).
HostPlatform CurrentHostPlatform() {
  return HostPlatform{3, 2, "Linux", "x86_64"};
}

}  // namespace Sorvane
