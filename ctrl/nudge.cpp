#include "ctrl/nudge.h"

#include "ctrl/ctrl_log.h"
#include "ctrl/transport_ctx.h"
#include "ctrl/ui_dispatcher.h"
#include "ctrl/worker_threads.h"

namespace Sorvane::ctrl {
namespace {

constexpr int64_t kNudgePauseNs = 60'000'000;

// One jog step on the UI thread; false when the connection is gone, busy or the host refused.
bool JogOnUiThread(TransportCtx& ctx, float ticks) {
  const auto lock = ctx.LockOnUiThread("nudge[ui]");
  if (!lock || !ctx.CanRunActions())
    return false;
  const sdk::SPErr err = ctx.transportSuite->JogDial(ctx.transportRef, ticks, 24.0f, 0);
  if (err != sdk::kSPNoError) {
    Log(kCtrlChannel, kLogError, "ctrl: Dispatch(op=10) err=0x%08x", static_cast<uint32_t>(err));
    return false;
  }
  return true;
}

// The step back comes from a worker that waits out the pause, so the UI thread never sleeps.
void StepBackLater(std::shared_ptr<TransportCtx> ctx) {
  static ThreadGuard guard(kCtrlChannel, "ctrl: nudge");
  StartWorker(guard, [ctx = std::move(ctx)](const StopSignal& stop) {
    if (!stop.SleepFor(kNudgePauseNs) || !ctx->connected.load())
      return;  // Disconnect came during the pause: the host is left alone
    PostToUiThread([ctx] { JogOnUiThread(*ctx, -1.0f); });
  });
}

}  // namespace

bool PostNudge(std::shared_ptr<TransportCtx> ctx) {
  return PostToUiThread([ctx = std::move(ctx)] {
    if (JogOnUiThread(*ctx, 1.0f))
      StepBackLater(ctx);
  });
}

}  // namespace Sorvane::ctrl
