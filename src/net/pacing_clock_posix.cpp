#include "net/pacing_clock.h"

namespace Sorvane {

const Clock& PacingClock() {
  return SteadyClock();
}

}  // namespace Sorvane
