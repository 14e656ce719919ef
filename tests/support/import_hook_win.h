#pragma once
#include <windows.h>

namespace Sorvane::test {

// Points `module`'s import of `function` from `library` at `replacement`, so every call the
// module makes through its import table reaches the replacement. Returns what the slot held (the
// real function), or null when the module does not import it by name.
void* HookImport(HMODULE module, const char* library, const char* function, void* replacement);

}  // namespace Sorvane::test
