#pragma once

namespace Sorvane::test {

// Faults on purpose (an access violation / SIGSEGV).
void TriggerAccessViolation();
// Raises an event that passes through the crash handler but is not a crash (a breakpoint that a
// debugger-like handler resumes from) and returns.
void TriggerHarmlessEvent();
// Why this platform has no such event, or null when it has one.
const char* NoHarmlessEventReason();
// The text the Fault line carries for an access violation.
const char* AccessViolationCodeText();
// Extension of dump files, and what every dump file starts with.
const char* DumpExtension();
const char* DumpSignature();

}  // namespace Sorvane::test
