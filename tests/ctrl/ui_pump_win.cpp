#include <windows.h>

#include "ctrl/ui_pump.h"

namespace Sorvane::test {

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done())
      return true;
    Sleep(5);
  }
  return done();
}

}  // namespace Sorvane::test
