#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

// Platform half of the log: clock, debugger channel, environment and the append-one-line write.
namespace Sorvane::logplatform {

// Local wall-clock time as "YYYY-MM-DD hh:mm:ss.mmm" into `out` (at least 32 bytes).
void LocalTimestamp(char* out, size_t size);

// Sends a finished line to the debugger channel, where the platform has one.
void DebuggerOutput(const char* line);

// Appends `length` bytes to `file` in one write, creating it if needed; false when it cannot open.
bool AppendOnce(const std::filesystem::path& file, const char* data, size_t length);

// An environment variable's value; nullopt when unset.
std::optional<std::string> GetEnv(const char* name);

// The platform's base folder for local (non-roaming) application data, before "Sorvane".
std::filesystem::path LocalDataBase();

}  // namespace Sorvane::logplatform
