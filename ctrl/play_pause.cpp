#include "ctrl/play_pause.h"

#include <mutex>

#include "ctrl/ctrl_log.h"
#include "ctrl/host_string.h"
#include "ctrl/host_window.h"
#include "ctrl/transport_ctx.h"
#include "ctrl/ui_dispatcher.h"
#include "ctrl/worker_threads.h"

namespace Sorvane::ctrl {
namespace {

constexpr int64_t kWarmUpDelayNs = 250'000'000;

sdk::SPErr RunCommand(const TransportCtx& ctx, const char16_t* context, const char16_t* id) {
  return RunHostCommand(ctx.commandSuite, ctx.commandRef, ctx.stringSuite, context, id);
}

// The play state, or nullopt when the connection is gone or busy.
std::optional<uint8_t> PlayStateOnUiThread(TransportCtx& ctx, const char* what) {
  const auto lock = ctx.LockOnUiThread(what);
  if (!lock || !ctx.CanRunActions())
    return std::nullopt;
  return ctx.QueryPlayState().value_or(0);
}

void WarmUpRetryOnUiThread(const std::shared_ptr<TransportCtx>& ctx, void* target) {
  const auto state = PlayStateOnUiThread(*ctx, "play[ui] warm-up");
  if (!state)
    return;
  if (*state != 1 && PressSpaceAgain(target))
    Log(kCtrlChannel, kLogInfo, "ctrl: play[ui]: warm-up retry VK_SPACE");
  else
    Log(kCtrlChannel, kLogInfo, "ctrl: play[ui]: warm-up retry skipped state=%d", *state);
}

// A host brought forward by our activation messages may swallow the first key; try once more.
void StartWarmUp(std::shared_ptr<TransportCtx> ctx, void* target) {
  static ThreadGuard guard(kCtrlChannel, "ctrl: play warm-up");
  StartWorker(guard, [ctx = std::move(ctx), target](const StopSignal& stop) {
    if (!stop.SleepFor(kWarmUpDelayNs) || !ctx->connected.load())
      return;
    PostToUiThread([ctx, target] { WarmUpRetryOnUiThread(ctx, target); });
  });
}

// Pauses when playing; true when that was all there was to do.
bool PauseIfPlaying(TransportCtx& ctx) {
  const auto lock = ctx.LockOnUiThread("play/pause[ui]");
  if (!lock)
    return true;
  if (!ctx.CanRunActions()) {
    Log(kCtrlChannel, kLogInfo, "ctrl: play/pause[ui]: surface disconnected — skipped");
    return true;
  }
  if (ctx.QueryPlayState().value_or(0) != 1)
    return false;
  const sdk::SPErr err = RunCommand(ctx, u"program.monitor", u"cmd.monitor.playstoptoggle");
  Log(kCtrlChannel, kLogInfo, "ctrl: play/pause[ui]: was=1 Pause err=0x%08x",
      static_cast<uint32_t>(err));
  return true;
}

void PlayByCommand(TransportCtx& ctx) {
  const auto lock = ctx.LockOnUiThread("play[ui]");
  if (!lock || !ctx.CanRunActions())
    return;
  const sdk::SPErr err = RunCommand(ctx, nullptr, u"cmd.transport.play.ctitoout");
  Log(kCtrlChannel, kLogError, "ctrl: play[ui]: Premiere HWND not found, ctitoout err=0x%08x",
      static_cast<uint32_t>(err));
}

}  // namespace

// The suites are used under the connection's lock; the windows are not: finding and focusing
// them may wait for other threads, and none of them may wait for this lock in turn.
void PlayPauseOnUiThread(const std::shared_ptr<TransportCtx>& ctx) {
  if (PauseIfPlaying(*ctx))
    return;
  const SpacePress press = PressSpaceInHostWindow();
  if (!press.mainWindowFound) {
    PlayByCommand(*ctx);
    return;
  }
  if (!press.hostWasForeground)
    StartWarmUp(ctx, press.target);
}

}  // namespace Sorvane::ctrl
