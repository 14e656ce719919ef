#pragma once
#include <filesystem>

namespace Sorvane {

// Installs the process-wide crash diagnostics once (later calls do nothing): a Fault log line with
// module and offset for every serious fault, and a dump file in the "crashes" folder when the
// process dies of it.
void InstallCrashHandler();

// Prepares the calling thread so that the crash handler can still run there after a stack
// overflow (its own alternate signal stack on Linux, released when the thread ends; a stack
// guarantee on Windows). Every thread the plug-in starts calls it first; repeats do nothing.
void PrepareThreadForCrashes();

// Folder that receives the dumps.
std::filesystem::path CrashDumpFolder();

}  // namespace Sorvane
