#include "bridge/transport_commands.h"

#include <atomic>
#include <mutex>

#include "base/clock.h"
#include "bridge/key_injector.h"
#include "bridge/keyboard_keys.h"
#include "bridge/loaded_module.h"
#include "diag/log_channels.h"

namespace Sorvane {
namespace {

constexpr int64_t kNudgePauseNs = 60'000'000;

void SendKeyTap(KeyTap tap) {
  CurrentKeyInjector().Inject(KeyTapEvents(tap));
}

}  // namespace

bool BridgeClient::TryBridge(int32_t op) const {
  if (getter_ == nullptr)
    return false;
  CtrlBridge* bridge = getter_();
  if (bridge == nullptr || bridge->version != kCtrlBridgeVersion)
    return false;
  // One read: the control-surface side may clear the pointer at any moment.
  const CtrlDispatchFn dispatch = std::atomic_ref<CtrlDispatchFn>(bridge->dispatch).load();
  if (dispatch == nullptr)
    return false;
  return dispatch(op) == kCtrlDispatchDone;
}

CtrlBridgeGetFn ResolveBridge() {
  static std::once_flag once;
  static CtrlBridgeGetFn getter = nullptr;
  std::call_once(once, [] {
    const char* module =
        DetectHost() == HostKind::AfterEffects ? kAfterEffectsBridgeModuleName : kCtrlModuleName;
    getter =
        reinterpret_cast<CtrlBridgeGetFn>(FindLoadedModuleExport(module, kCtrlBridgeGetExport));
    Log(channels::kCtrl, kLogInfo, "bridge lookup: %{public}s %{public}s", module,
        getter ? "found" : "not loaded");
  });
  return getter;
}

bool TryBridge(uint32_t command) {
  return BridgeClient(ResolveBridge()).TryBridge(static_cast<int32_t>(command));
}

void RunKeyboardFallback(uint32_t command) {
  if (command == static_cast<uint32_t>(SVCtrlOpcode::Nudge)) {
    KeyboardNudge();
    return;
  }
  const auto tap = FallbackKeyFor(command);
  if (!tap) {
    Log(channels::kKeyboard, kLogInfo, "keyboard fallback: no key for command %u", command);
    return;
  }
  SendKeyTap(*tap);
}

void KeyboardNudge(const Clock& clock) {
  const NudgeKeys keys = NudgeKeysFor(DetectHost());
  Log(channels::kKeyboard, kLogInfo, "nudge: %s", keys.label);
  SendKeyTap(keys.first);
  // The pause lets the host render the first step; keys that only go to the log need none, and
  // this runs on the connection's read thread.
  if (CurrentKeyInjector().ReachesTheHost())
    clock.SleepForNs(kNudgePauseNs);
  SendKeyTap(keys.second);
}

void NudgeHostForNewClient() {
  Log(channels::kTransmit, kLogInfo, "new client nudge (initial frame)");
  if (TryBridge(static_cast<uint32_t>(SVCtrlOpcode::Nudge)))
    return;
  Log(channels::kTransmit, kLogInfo, "Ctrl bridge unavailable — fallback to keyboard nudge");
  RunKeyboardFallback(static_cast<uint32_t>(SVCtrlOpcode::Nudge));
}

}  // namespace Sorvane
