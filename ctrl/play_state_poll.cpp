#include "ctrl/play_state_poll.h"

#include <mutex>

#include "base/clock.h"
#include "bridge/loaded_module.h"
#include "ctrl/ctrl_log.h"
#include "ctrl/transport_ctx.h"
#include "ctrl/worker_threads.h"

namespace Sorvane::ctrl {
namespace {

constexpr int64_t kPollIntervalNs = 100'000'000;
constexpr int64_t kRiseHoldNs = 300'000'000;

void Publish(bool playing, bool was) {
  if (TransmitPublishFn publish = ResolveTransmitPublishFn())
    publish(playing ? 1 : 0);
  Log(kCtrlChannel, kLogInfo, "ctrl: poll: publish %d (was %d)", playing ? 1 : 0, was ? 1 : 0);
}

// The state under the context's lock; nullopt once the context can no longer be polled.
std::optional<bool> PollOnce(TransportCtx& ctx) {
  if (!ctx.connected.load())
    return std::nullopt;
  std::lock_guard<std::timed_mutex> lock(ctx.lock);
  if (!ctx.connected.load())
    return std::nullopt;
  const auto state = ctx.QueryPlayState();
  if (!state)
    return std::nullopt;
  return *state == 1;
}

void PollLoop(const std::shared_ptr<TransportCtx>& ctx, const StopSignal& stop) {
  PlayStateDebouncer debouncer;
  do {
    const auto playing = PollOnce(*ctx);
    if (!playing)
      return;
    const bool was = debouncer.lastPublished();
    if (const auto publish = debouncer.Observe(*playing, SteadyClock().NowNs()))
      Publish(*publish, was);
  } while (stop.SleepFor(kPollIntervalNs));
}

}  // namespace

std::optional<bool> PlayStateDebouncer::Observe(bool playing, int64_t nowNs) {
  bool publish = false;
  if (!anyPublished_ || (!playing && playing != published_)) {
    publish = true;
  } else if (playing == published_) {
    riseSinceNs_.reset();
  } else if (!riseSinceNs_) {
    riseSinceNs_ = nowNs;
  } else if (nowNs - *riseSinceNs_ >= kRiseHoldNs) {
    publish = true;
  }
  if (!publish)
    return std::nullopt;
  anyPublished_ = true;
  published_ = playing;
  riseSinceNs_.reset();
  return playing;
}

TransmitPublishFn ResolveTransmitPublishFn() {
  static std::once_flag once;
  static TransmitPublishFn publish = nullptr;
  std::call_once(once, [] {
    publish = reinterpret_cast<TransmitPublishFn>(
        FindLoadedModuleExport(kTransmitModuleName, kTransmitPublishExport));
    // A missing module is silent; a module without the export is worth a line.
    if (publish != nullptr)
      Log(kCtrlChannel, kLogInfo, "ctrl: ResolveTransmitPublishFn → %{public}s", "OK");
    else if (FindLoadedModuleExport(kTransmitModuleName, "xTransmitEntry") != nullptr)
      Log(kCtrlChannel, kLogInfo, "ctrl: ResolveTransmitPublishFn → %{public}s",
          "NOT FOUND (state pushes to iOS disabled)");
  });
  return publish;
}

void StartPlayStatePoll(std::shared_ptr<TransportCtx> ctx) {
  static ThreadGuard guard(kCtrlChannel, "ctrl: play-state poll");
  StartWorker(guard, [ctx = std::move(ctx)](const StopSignal& stop) { PollLoop(ctx, stop); });
}

}  // namespace Sorvane::ctrl
