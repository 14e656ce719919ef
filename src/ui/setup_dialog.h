#pragma once

namespace Sorvane {

// Opens the setup dialog on a thread of its own, or brings the open one to the front; returns at
// once. One dialog per process.
void ShowSetupDialog();
// Closes the dialog if one is open and waits for its thread; called before the module unloads.
void CloseSetupDialog();

}  // namespace Sorvane
