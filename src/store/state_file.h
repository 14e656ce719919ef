#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "base/cross_process_lock.h"
#include "diag/log.h"

// Whole-file reads and durable atomic writes of the small state files (install identity, trusted
// phones), and the lock that makes each read-modify-write of one whole between processes.
namespace Sorvane::statefile {

enum class ReadStatus {
  Absent,      // no such file (or only an empty one)
  Unreadable,  // it is there but cannot be read (another program holds it, ...)
  Text,
};

struct ReadResult {
  ReadStatus status = ReadStatus::Absent;
  std::string text;     // the bytes, with Text
  std::string failure;  // why, with Unreadable
};

// One look at the file. An empty read (a writer of another program truncating it) and a failed
// read are tried again up to five times, 5 ms apart; five empty reads count as no file.
ReadResult ReadText(const std::filesystem::path& file);

// ReadText as every store operation reads: a file that stays unreadable is logged as an ERROR on
// `channel` and read again for about a second (virus scanners, backup and sync agents hold files
// that long). If it is still unreadable the caller must write nothing: rewriting from what it
// could not read would drop the stored identity or phones.
ReadResult ReadPatiently(const std::filesystem::path& file, const LogChannel& channel);

// Held across one whole operation on a state file: this process's lock for the file's store, then
// the lock file "<file>.lock" that every process takes before reading, writing and replacing
// "<file>", so two hosts never write the same temporary file and each reads what the other wrote.
// A temporary file left by a writer that died is removed once the lock is held.
class UpdateLock {
 public:
  UpdateLock(std::mutex& processLock, const std::filesystem::path& file, const LogChannel& channel);
  // False when the lock file could not be opened (no folder yet, ...): reading is still fine.
  bool Held() const { return fileLock_.Held(); }

 private:
  std::lock_guard<std::mutex> processLock_;
  CrossProcessLock fileLock_;
};

// Log texts of one store's write failures ("%{public}s" placeholders as the callers log them).
struct WriteMessages {
  const char* openFailed;    // tmp path
  const char* writeFailed;   // no argument
  const char* renameFailed;  // tmp path, final path, error text
};

// Writes `text` to "<file>.tmp", flushes it to the disk, replaces `file` with it and makes the
// replacement durable, so neither readers nor a power cut ever leave a half-written or empty file;
// the state files are readable by their owner only where the platform has such modes. Refuses
// (logged) without `lock` held. On failure logs the matching message on `channel`, removes the
// temporary file and returns false; `file` is then as it was.
bool WriteAtomically(const UpdateLock& lock, const std::filesystem::path& file,
                     const std::string& text, const LogChannel& channel,
                     const WriteMessages& messages);

// The file-system steps of reads and writes, in the order they run. Tests watch them, and make
// one fail, through a hook called before each step: a step it refuses fails as the system's would.
enum class FileStep { Read, Write, Flush, Replace, SyncFolder };
using StepHook = std::function<bool(FileStep step, const std::filesystem::path& target)>;
void SetStepHook(StepHook hook);  // an empty hook removes it

namespace detail {

// Platform half: one read of the whole file.
ReadResult ReadWholeFile(const std::filesystem::path& file);

// Platform half: a new file, created or truncated (owner-only where modes exist), written and
// flushed step by step; closed when destroyed.
class NewFile {
 public:
  explicit NewFile(const std::filesystem::path& file);
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool IsOpen() const;
  bool Write(const std::string& text);
  bool Flush();  // to the disk, not only to the system's cache
  bool Close();

 private:
  intptr_t handle_;
};

// Platform half: renames `from` over `to`, reaching the disk before it returns where the platform
// can say so; `failure` tells why not.
bool Replace(const std::filesystem::path& from, const std::filesystem::path& to,
             std::string* failure);

// Platform half: makes the folder's entries (a rename in it) durable.
bool SyncFolder(const std::filesystem::path& folder, std::string* failure);

}  // namespace detail
}  // namespace Sorvane::statefile
