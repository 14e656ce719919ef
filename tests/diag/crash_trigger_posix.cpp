#include "diag/crash_trigger.h"

namespace Sorvane::test {

void TriggerAccessViolation() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

void TriggerHarmlessEvent() {}

const char* NoHarmlessEventReason() {
  return "POSIX has no first-chance exceptions: the handler hooks only fatal signals, so no "
         "harmless event ever reaches it";
}

const char* AccessViolationCodeText() {
  return "code=0x0000000B";
}
const char* DumpSignature() {
  return "Sorvane crash\nsignal=";
}
const char* DumpExtension() {
  return ".txt";
}

}  // namespace Sorvane::test
