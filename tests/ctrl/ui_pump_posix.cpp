#include <chrono>
#include <thread>

#include "ctrl/ui_pump.h"

namespace Sorvane::test {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

}  // namespace Sorvane::test
