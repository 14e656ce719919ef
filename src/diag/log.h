#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/host_kind.h"

namespace Sorvane {

// A log channel: subsystem and category, both borrowed static strings. A null member prints "?".
struct LogChannel {
  const char* subsystem;
  const char* category;
};

using LogLevel = int32_t;
inline constexpr LogLevel kLogDebug = 0;
inline constexpr LogLevel kLogInfo = 1;
inline constexpr LogLevel kLogError = 2;
inline constexpr LogLevel kLogFault = 3;

// Formats one printf-style message and appends it as one line to the deliverable's log file (and
// the debugger output where there is one). "%{public}s"-style annotations are stripped before
// formatting. Never throws; failures drop the line.
void Log(const LogChannel& channel, LogLevel level, const char* format, ...);

// The lowest level written, fixed at module load from SV_LOG_DEBUG.
LogLevel MinLogLevel();

// Folder of the log file, the debug topics and transitions.csv.
std::filesystem::path LogFolder();

// Creates `folder` and its parents; one it creates is its owner's alone where the platform has
// modes (the log holds pairing codes).
void CreateLogFolder(const std::filesystem::path& folder);

// Log file name for a host: "plugin.log", or "plugin-<suffix>.log".
std::string LogFileNameFor(HostKind kind);

namespace logdetail {
// Exposed for tests: the minimum level an SV_LOG_DEBUG value selects (null = unset).
LogLevel MinLevelFromEnv(const char* value);
// Exposed for tests: copies `format` into `out` (size `outSize`) with annotations stripped.
void StripAnnotations(const char* format, char* out, size_t outSize);
// Exposed for tests: the file step of Log, on an explicit path.
void AppendLineToFile(const std::filesystem::path& file, const char* line, size_t length);
// Exposed for tests: called in the middle of a rotation (the old archive removed, the log not yet
// renamed), where a slow disk leaves other writers the longest time to rotate as well.
void SetRotationHook(void (*hook)());
}  // namespace logdetail

}  // namespace Sorvane
