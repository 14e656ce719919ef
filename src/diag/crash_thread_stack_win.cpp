#include <windows.h>

#include "diag/crash_handler.h"

namespace Sorvane {

// A stack overflow leaves the handlers only the guard page; reserve enough for the Fault line
// and the dump call.
void PrepareThreadForCrashes() {
  thread_local bool prepared = false;
  if (prepared)
    return;
  prepared = true;
  ULONG reserve = 64 * 1024;
  SetThreadStackGuarantee(&reserve);
}

}  // namespace Sorvane
