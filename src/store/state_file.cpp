#include "store/state_file.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "diag/log_text.h"

namespace Sorvane::statefile {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kQuickAttempts = 5;
constexpr auto kQuickPause = 5ms;
constexpr auto kUnreadablePatience = 1000ms;
constexpr auto kUnreadablePause = 20ms;
// A program without delete sharing (a virus scanner, an editor) makes a Windows replace fail while
// it has the file open for a moment: tried for up to half a second rather than lose the change.
constexpr int kReplaceAttempts = 50;
constexpr auto kReplacePause = 10ms;

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

StepHook& Hook() {  // guarded by HookLock()
  static StepHook hook;
  return hook;
}

bool Allowed(FileStep step, const fs::path& target) {
  StepHook hook;
  {
    std::lock_guard<std::mutex> lock(HookLock());
    hook = Hook();
  }
  return !hook || hook(step, target);
}

fs::path WithSuffix(fs::path file, const char* suffix) {
  file += suffix;
  return file;
}

ReadResult ReadOnce(const fs::path& file) {
  if (!Allowed(FileStep::Read, file))
    return ReadResult{ReadStatus::Unreadable, {}, "read refused"};
  return detail::ReadWholeFile(file);
}

bool WriteTemporary(const fs::path& tmp, const std::string& text, const LogChannel& channel,
                    const WriteMessages& messages) {
  detail::NewFile out(tmp);
  if (!out.IsOpen()) {
    Log(channel, kLogError, messages.openFailed, PathForLog(tmp).c_str());
    return false;
  }
  const bool written = Allowed(FileStep::Write, tmp) && out.Write(text) &&
                       Allowed(FileStep::Flush, tmp) && out.Flush() && out.Close();
  if (!written)
    Log(channel, kLogError, messages.writeFailed);
  return written;
}

bool ReplaceWithRetries(const fs::path& tmp, const fs::path& file, std::string* failure) {
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (attempt > 0)
      std::this_thread::sleep_for(kReplacePause);
    if (!Allowed(FileStep::Replace, tmp)) {
      *failure = "replace refused";
      continue;
    }
    if (detail::Replace(tmp, file, failure))
      return true;
  }
  return false;
}

// The new file is in place either way; a failed sync only leaves its survival of a power cut open.
void SyncFolderOf(const fs::path& file, const LogChannel& channel) {
  const fs::path folder = file.parent_path();
  std::string failure = "sync refused";
  if (Allowed(FileStep::SyncFolder, folder) && detail::SyncFolder(folder, &failure))
    return;
  Log(channel, kLogError,
      "sync(%{public}s) failed: %{public}s — the change may not survive a "
      "power cut",
      PathForLog(folder).c_str(), failure.c_str());
}

}  // namespace

ReadResult ReadText(const fs::path& file) {
  ReadResult last;
  for (int attempt = 0; attempt < kQuickAttempts; ++attempt) {
    if (attempt > 0)
      std::this_thread::sleep_for(kQuickPause);
    last = ReadOnce(file);
    if (last.status == ReadStatus::Absent ||
        (last.status == ReadStatus::Text && !last.text.empty()))
      return last;
  }
  return last.status == ReadStatus::Text ? ReadResult{} : last;
}

ReadResult ReadPatiently(const fs::path& file, const LogChannel& channel) {
  ReadResult result = ReadText(file);
  if (result.status != ReadStatus::Unreadable)
    return result;
  const std::string name = PathForLog(file);
  Log(channel, kLogError, "%{public}s cannot be read: %{public}s — trying again", name.c_str(),
      result.failure.c_str());
  const auto deadline = std::chrono::steady_clock::now() + kUnreadablePatience;
  while (result.status == ReadStatus::Unreadable && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kUnreadablePause);
    result = ReadText(file);
  }
  if (result.status == ReadStatus::Unreadable) {
    Log(channel, kLogError, "%{public}s still cannot be read: %{public}s — left as it is",
        name.c_str(), result.failure.c_str());
  } else {
    Log(channel, kLogInfo, "%{public}s could be read again", name.c_str());
  }
  return result;
}

UpdateLock::UpdateLock(std::mutex& processLock, const fs::path& file, const LogChannel& channel)
    : processLock_(processLock),
      fileLock_(WithSuffix(file, ".lock"), CrossProcessLock::Wait::UntilHeld) {
  if (!fileLock_.Held())
    return;
  const fs::path tmp = WithSuffix(file, ".tmp");
  std::error_code ec;
  if (fs::is_regular_file(tmp, ec) && fs::remove(tmp, ec)) {
    Log(channel, kLogInfo, "removed %{public}s, left by an interrupted write",
        PathForLog(tmp).c_str());
  }
}

bool WriteAtomically(const UpdateLock& lock, const fs::path& file, const std::string& text,
                     const LogChannel& channel, const WriteMessages& messages) {
  if (!lock.Held()) {
    Log(channel, kLogError, "%{public}s: its lock file cannot be opened — nothing written",
        PathForLog(file).c_str());
    return false;
  }
  const fs::path tmp = WithSuffix(file, ".tmp");
  std::error_code ec;
  if (!WriteTemporary(tmp, text, channel, messages)) {
    if (fs::is_regular_file(tmp, ec))
      fs::remove(tmp, ec);
    return false;
  }
  std::string failure;
  if (!ReplaceWithRetries(tmp, file, &failure)) {
    Log(channel, kLogError, messages.renameFailed, PathForLog(tmp).c_str(),
        PathForLog(file).c_str(), failure.c_str());
    fs::remove(tmp, ec);
    return false;
  }
  SyncFolderOf(file, channel);
  return true;
}

void SetStepHook(StepHook hook) {
  std::lock_guard<std::mutex> lock(HookLock());
  Hook() = std::move(hook);
}

}  // namespace Sorvane::statefile
