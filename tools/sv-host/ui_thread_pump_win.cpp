#include <windows.h>

#include "sv-host/ui_thread_pump.h"

namespace Sorvane::hostsim {

void RunUiThreadUntil(std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0)
      return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()) + 1, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace Sorvane::hostsim
