#pragma once
#include "base/clock.h"

namespace Sorvane {

// The steady clock with the finest sleep the platform offers, for the pacer's microsecond waits:
// on Windows a high-resolution waitable timer where the system has one (a plain sleep lasts up to
// a whole 15.6 ms timer tick there), elsewhere the ordinary sleep, which is already precise.
const Clock& PacingClock();

}  // namespace Sorvane
