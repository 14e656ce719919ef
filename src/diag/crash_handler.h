#pragma once
#include <filesystem>

namespace Sorvane {

// Installs the process-wide crash diagnostics once (later calls do nothing): a Fault log line with
// module and offset for every serious fault, and a dump file in the "crashes" folder when the
// process dies of it.
void InstallCrashHandler();

// Folder that receives the dumps.
std::filesystem::path CrashDumpFolder();

}  // namespace Sorvane
