#pragma once
#include <functional>

namespace Sorvane::test {

// Waits up to `timeoutMs` for `done`, letting the UI-thread dispatcher run meanwhile (on Windows
// it runs on this thread's message loop).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

}  // namespace Sorvane::test
