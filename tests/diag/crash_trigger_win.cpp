#include <windows.h>

#include "diag/crash_trigger.h"

namespace Sorvane::test {
namespace {
LONG CALLBACK ResumeAfterBreakpoint(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == EXCEPTION_BREAKPOINT ? EXCEPTION_CONTINUE_EXECUTION
                                                                      : EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void TriggerAccessViolation() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

void TriggerHarmlessEvent() {
  void* handler = AddVectoredExceptionHandler(0, ResumeAfterBreakpoint);
  RaiseException(EXCEPTION_BREAKPOINT, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(handler);
}

const char* NoHarmlessEventReason() {
  return nullptr;
}

const char* AccessViolationCodeText() {
  return "code=0xC0000005";
}
const char* DumpSignature() {
  return "MDMP";
}
const char* DumpExtension() {
  return ".dmp";
}

}  // namespace Sorvane::test
