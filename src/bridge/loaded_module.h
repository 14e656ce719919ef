#pragma once

namespace Sorvane {

// The export `symbol` of a module that is already loaded in this process under the file name
// `fileName` (never loads it). The module gets a reference that keeps it loaded for the rest of
// the process, so the returned pointer stays callable even if its loader unloads it. Null when
// the module is not loaded or has no such export.
void* FindLoadedModuleExport(const char* fileName, const char* symbol);

// Keeps the module this code is linked into loaded until the process ends, whatever its loader
// does. A plug-in calls it before it starts a thread or installs a handler: those outlive the
// host's unload call, and a host that then frees the module would run unmapped code. False when
// the system refused.
bool PinThisModule();

}  // namespace Sorvane
