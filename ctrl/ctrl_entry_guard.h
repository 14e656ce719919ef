#pragma once
#include "ctrl/ctrl_log.h"
#include "diag/host_entry_guard.h"
#include "sdk/control_surface_types.h"

namespace Sorvane::ctrl {

// What a control-surface entry answers when it throws (see HostEntryGuard).
struct CtrlEntryFailure {
  static constexpr LogChannel kChannel = kCtrlChannel;
  static constexpr sdk::SPErr kOutOfMemory = sdk::kSPOutOfMemoryError;
  static constexpr sdk::SPErr kFailed = sdk::kSPUnimplementedError;
};

template <EntryName Name, auto Entry>
constexpr auto CtrlGuarded = &GuardedEntry<CtrlEntryFailure, Name, Entry>::Call;

}  // namespace Sorvane::ctrl
