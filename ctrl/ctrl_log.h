#pragma once
#include "diag/log.h"

namespace Sorvane::ctrl {

// The control-surface plug-in logs everything on one channel.
inline constexpr LogChannel kCtrlChannel{"com.sorvane.plugin", "ctrl"};

}  // namespace Sorvane::ctrl
