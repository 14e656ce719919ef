#pragma once
#include <chrono>

namespace Sorvane::hostsim {

// Waits until `deadline` on the host's UI thread. On Windows the thread runs its message loop
// meanwhile, as a real host's does: the plug-ins post work to it (the control surface's play and
// nudge) and it must run there. Elsewhere no one posts to it, and it sleeps.
void RunUiThreadUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace Sorvane::hostsim
