#pragma once
#include <functional>

namespace Sorvane::ctrl {

using UiTask = std::function<void()>;

// Runs tasks on the host's UI thread: on Windows through a message-only window created on the
// thread that installs it; on Linux a dispatcher thread stands in for that thread. One per
// process.
bool InstallUiDispatcher();
// Stops it; tasks still queued are dropped (and freed).
void TearDownUiDispatcher();
// False when no dispatcher is installed or the post failed.
bool PostToUiThread(UiTask task);

}  // namespace Sorvane::ctrl
