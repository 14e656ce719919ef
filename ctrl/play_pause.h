#pragma once
#include <memory>

namespace Sorvane::ctrl {

struct TransportCtx;

// Toggles play on the host's UI thread: pause through the monitor's toggle command, play by the
// space bar in the host's video pane (or the play command when there is no such window).
void PlayPauseOnUiThread(const std::shared_ptr<TransportCtx>& ctx);

}  // namespace Sorvane::ctrl
