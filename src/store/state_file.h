#pragma once
#include <filesystem>
#include <optional>
#include <string>

#include "diag/log.h"

// Whole-file reads and atomic writes of the small state files (install identity, trusted phones).
namespace Sorvane::statefile {

// The file's bytes; nullopt when there is no such file. An empty read or a failed open of a file
// that is there (a writer replacing it at that moment) is retried up to five times, 5 ms apart,
// then counts as no text.
std::optional<std::string> ReadText(const std::filesystem::path& file);

// Log texts of one store's write failures ("%{public}s" placeholders as the callers log them).
struct WriteMessages {
  const char* openFailed;    // tmp path
  const char* writeFailed;   // no argument
  const char* renameFailed;  // tmp path, final path, error text
};

// Writes `text` to "<file>.tmp" and renames it over `file`, so readers never see a half-written
// file; the state files are readable by their owner only where the platform has such modes.
// On failure logs the matching message on `channel` and returns false.
bool WriteAtomically(const std::filesystem::path& file, const std::string& text,
                     const LogChannel& channel, const WriteMessages& messages);

namespace detail {
// Platform half: the whole file, or nullopt when it cannot be opened. Readers never stand in the
// way of a writer's rename (Windows opens with delete sharing).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);
}  // namespace detail

}  // namespace Sorvane::statefile
