#include "ctrl/bridge_dispatch.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "ctrl/ctrl_log.h"
#include "ctrl/host_string.h"
#include "ctrl/nudge.h"
#include "ctrl/play_pause.h"
#include "ctrl/transport_ctx.h"
#include "ctrl/ui_dispatcher.h"
#include "diag/host_entry_guard.h"

namespace Sorvane::ctrl {
namespace {

using sdk::SPErr;

CtrlBridge bridgeRecord{nullptr, kCtrlBridgeVersion};

std::mutex ctxRegistryLock;
std::shared_ptr<TransportCtx> currentCtx;  // guarded by ctxRegistryLock

// The transmit plug-in calls the dispatch from its own threads; an exception must not reach them.
int32_t GuardedDispatch(int32_t op) {
  static HostEntryGuard guard(kCtrlChannel, "bridge dispatch");
  return guard.Run(kCtrlDispatchUnavailable, kCtrlDispatchUnavailable,
                   [op] { return BridgeDispatchImpl(op); });
}

void SetDispatch(CtrlDispatchFn fn) {
  // The transmit plug-in reads the pointer without a lock.
  std::atomic_ref<CtrlDispatchFn>(bridgeRecord.dispatch).store(fn);
}

std::shared_ptr<TransportCtx> CurrentContext() {
  std::lock_guard<std::mutex> lock(ctxRegistryLock);
  return currentCtx;
}

SPErr Command(const TransportCtx& ctx, const char16_t* id) {
  return RunHostCommand(ctx.commandSuite, ctx.commandRef, ctx.stringSuite, nullptr, id);
}

SPErr Shuttle(const TransportCtx& ctx,
              sdk::ADOBESDK_ControlSurfaceHostTransportSuite1::Action then) {
  const auto* t = ctx.transportSuite;
  const SPErr stop = t->ShuttleStop(ctx.transportRef);
  return then ? then(ctx.transportRef) : stop;
}

int32_t PostPlayPause(const std::shared_ptr<TransportCtx>& ctx) {
  if (!PostToUiThread([ctx] { PlayPauseOnUiThread(ctx); })) {
    Log(kCtrlChannel, kLogError, "ctrl: play/pause: UI dispatcher not installed, can't post");
    return kCtrlDispatchUnavailable;  // lets the keyboard fallback run
  }
  return kCtrlDispatchDone;
}

// The transmit plug-in asks for the nudge while it greets a new client; the steps and the pause
// between them run on the UI thread and a worker, never on the caller's thread.
int32_t PostNudgeToUiThread(const std::shared_ptr<TransportCtx>& ctx) {
  if (!PostNudge(ctx)) {
    Log(kCtrlChannel, kLogError, "ctrl: nudge: UI dispatcher not installed, can't post");
    return kCtrlDispatchUnavailable;
  }
  return kCtrlDispatchDone;
}

// The host's result, or nullopt for an opcode we do not know.
std::optional<SPErr> RunAction(TransportCtx& ctx, SVCtrlOpcode op) {
  const auto* t = ctx.transportSuite;
  switch (op) {
    case SVCtrlOpcode::StepForward:
      return Command(ctx, u"cmd.transport.step.forward");
    case SVCtrlOpcode::StepBack:
      return Command(ctx, u"cmd.transport.step.back");
    case SVCtrlOpcode::StepForwardFive:
      return Command(ctx, u"cmd.transport.step.forward.five");
    case SVCtrlOpcode::StepBackFive:
      return Command(ctx, u"cmd.transport.step.back.five");
    case SVCtrlOpcode::GotoIn:
      return Command(ctx, u"cmd.goto.in");
    case SVCtrlOpcode::GotoOut:
      return Command(ctx, u"cmd.goto.out");
    case SVCtrlOpcode::ShuttleReverse:
      return Shuttle(ctx, t->ShuttleLeft);
    case SVCtrlOpcode::ShuttleStop:
      return Shuttle(ctx, nullptr);
    case SVCtrlOpcode::ShuttleForward:
      return Shuttle(ctx, t->ShuttleRight);
    default:
      return std::nullopt;
  }
}

}  // namespace

CtrlBridge* BridgeRecord() {
  return &bridgeRecord;
}

void MakeCurrentContext(std::shared_ptr<TransportCtx> ctx) {
  {
    std::lock_guard<std::mutex> lock(ctxRegistryLock);
    currentCtx = std::move(ctx);
  }
  SetDispatch(GuardedDispatch);
  Log(kCtrlChannel, kLogInfo, "ctrl: bridge dispatch installed");
}

bool ClearCurrentContextIf(const TransportCtx* ctx) {
  std::lock_guard<std::mutex> lock(ctxRegistryLock);
  if (ctx == nullptr || currentCtx.get() != ctx)
    return false;
  SetDispatch(nullptr);
  currentCtx.reset();
  return true;
}

bool HasCurrentContext() {
  return CurrentContext() != nullptr;
}

void RetireCurrentContext() {
  std::shared_ptr<TransportCtx> ctx;
  {
    std::lock_guard<std::mutex> lock(ctxRegistryLock);
    SetDispatch(nullptr);
    ctx = std::move(currentCtx);
  }
  if (ctx)
    ctx->Retire();
}

int32_t BridgeDispatchImpl(int32_t op) {
  const std::shared_ptr<TransportCtx> ctx = CurrentContext();
  if (!ctx)
    return kCtrlDispatchUnavailable;
  std::lock_guard<std::timed_mutex> lock(ctx->lock);
  if (!ctx->CanRunActions())
    return kCtrlDispatchUnavailable;
  Log(kCtrlChannel, kLogInfo, "ctrl: bridge dispatch op=%d", op);
  if (op == static_cast<int32_t>(SVCtrlOpcode::PlayPause))
    return PostPlayPause(ctx);
  if (op == static_cast<int32_t>(SVCtrlOpcode::Nudge))
    return PostNudgeToUiThread(ctx);
  const std::optional<SPErr> err = RunAction(*ctx, static_cast<SVCtrlOpcode>(op));
  if (!err)
    return kCtrlDispatchUnavailable;
  if (*err != sdk::kSPNoError) {
    Log(kCtrlChannel, kLogError, "ctrl: Dispatch(op=%d) err=0x%08x", op,
        static_cast<uint32_t>(*err));
    return kCtrlDispatchHostError;
  }
  return kCtrlDispatchDone;
}

}  // namespace Sorvane::ctrl
