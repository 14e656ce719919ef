#pragma once

namespace Sorvane::test {

// Faults on purpose (an access violation / SIGSEGV).
void TriggerAccessViolation();
// Raises an event that is not a crash (a breakpoint that a debugger-like handler resumes from on
// Windows, an ignored signal elsewhere) and returns.
void TriggerHarmlessEvent();
// The text the Fault line carries for an access violation.
const char* AccessViolationCodeText();
// Extension of dump files.
const char* DumpExtension();

}  // namespace Sorvane::test
