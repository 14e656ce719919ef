#include "ctrl_log.h"

// The control-surface entry points arrive with the bridge; until then the module carries only its
// own log and host detection.
