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

void WarmUpRetryOnUiThread(const std::shared_ptr<TransportCtx>& ctx, void* target) {
  std::lock_guard<std::mutex> lock(ctx->lock);
  if (!ctx->CanRunActions())
    return;
  const int state = ctx->QueryPlayState().value_or(0);
  if (state != 1 && PressSpaceAgain(target))
    Log(kCtrlChannel, kLogInfo, "ctrl: play[ui]: warm-up retry VK_SPACE");
  else
    Log(kCtrlChannel, kLogInfo, "ctrl: play[ui]: warm-up retry skipped state=%d", state);
}

// A host brought forward by our activation messages may swallow the first key; try once more.
void StartWarmUp(std::shared_ptr<TransportCtx> ctx, void* target) {
  StartWorker([ctx = std::move(ctx), target](const StopSignal& stop) {
    if (!stop.SleepFor(kWarmUpDelayNs) || !ctx->connected.load())
      return;
    PostToUiThread([ctx, target] { WarmUpRetryOnUiThread(ctx, target); });
  });
}

}  // namespace

void PlayPauseOnUiThread(const std::shared_ptr<TransportCtx>& ctx) {
  std::lock_guard<std::mutex> lock(ctx->lock);
  if (!ctx->CanRunActions()) {
    Log(kCtrlChannel, kLogInfo, "ctrl: play/pause[ui]: surface disconnected — skipped");
    return;
  }
  if (ctx->QueryPlayState().value_or(0) == 1) {
    const sdk::SPErr err = RunCommand(*ctx, u"program.monitor", u"cmd.monitor.playstoptoggle");
    Log(kCtrlChannel, kLogInfo, "ctrl: play/pause[ui]: was=1 Pause err=0x%08x",
        static_cast<uint32_t>(err));
    return;
  }
  const SpacePress press = PressSpaceInHostWindow();
  if (!press.mainWindowFound) {
    const sdk::SPErr err = RunCommand(*ctx, nullptr, u"cmd.transport.play.ctitoout");
    Log(kCtrlChannel, kLogError, "ctrl: play[ui]: Premiere HWND not found, ctitoout err=0x%08x",
        static_cast<uint32_t>(err));
    return;
  }
  if (!press.hostWasForeground)
    StartWarmUp(ctx, press.target);
}

}  // namespace Sorvane::ctrl
