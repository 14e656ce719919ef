#include "diag/log.h"
#include "diag/log_channels.h"
#include "ui/setup_dialog.h"

namespace Sorvane {

// No windowing here: `sv-host --setup` shows the pairing code and the status in a terminal.
void ShowSetupDialog() {
  Log(channels::kSetupDialog, kLogInfo, "SetupDialog: no setup dialog in this build");
}

void CloseSetupDialog() {}

}  // namespace Sorvane
