#pragma once

namespace Sorvane {

// The export `symbol` of a module that is already loaded in this process under the file name
// `fileName` (never loads it). The module gets a reference that keeps it loaded for the rest of
// the process, so the returned pointer stays callable even if its loader unloads it. Null when
// the module is not loaded or has no such export.
void* FindLoadedModuleExport(const char* fileName, const char* symbol);

}  // namespace Sorvane
