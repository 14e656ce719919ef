#pragma once
#include <memory>

namespace Sorvane::ctrl {

struct TransportCtx;

// The new-client nudge: one frame forward and, 60 ms later, one frame back, so the host renders
// the current frame again. Runs on the host's UI thread; the caller (the transmit plug-in, which
// may hold its own locks) only posts it. False when there is no dispatcher to post to.
bool PostNudge(std::shared_ptr<TransportCtx> ctx);

}  // namespace Sorvane::ctrl
