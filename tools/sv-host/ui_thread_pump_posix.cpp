#include <thread>

#include "sv-host/ui_thread_pump.h"

namespace Sorvane::hostsim {

void RunUiThreadUntil(std::chrono::steady_clock::time_point deadline) {
  std::this_thread::sleep_until(deadline);
}

}  // namespace Sorvane::hostsim
