#include <signal.h>

#include "diag/crash_trigger.h"

namespace Sorvane::test {

void TriggerAccessViolation() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

void TriggerHarmlessEvent() {
  signal(SIGUSR2, SIG_IGN);
  raise(SIGUSR2);
}

const char* AccessViolationCodeText() {
  return "code=0x0000000B";
}
const char* DumpExtension() {
  return ".txt";
}

}  // namespace Sorvane::test
