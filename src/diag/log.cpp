#include "diag/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "base/cross_process_lock.h"
#include "diag/log_platform.h"

namespace Sorvane {
namespace {

constexpr size_t kFormatBuffer = 1024;
constexpr size_t kMessageBuffer = 1024;
constexpr size_t kLineBuffer = 1280;
constexpr uintmax_t kRotateAbove = 4u * 1024u * 1024u;

LogLevel MinLevelAtLoad() {
  const auto value = logplatform::GetEnv("SV_LOG_DEBUG");
  return logdetail::MinLevelFromEnv(value ? value->c_str() : nullptr);
}

std::atomic<LogLevel> gMinLevel{MinLevelAtLoad()};

// One mutex per deliverable: lines of one module never interleave in the file.
std::mutex& FileMutex() {
  static std::mutex m;
  return m;
}

std::atomic<void (*)()> gRotationHook{nullptr};  // see logdetail::SetRotationHook

// Set while this thread is inside the file step, so a fault raised there (and logged by the
// crash handler on the same thread) skips the file instead of waiting on its own mutex.
thread_local bool tInFileStep = false;

struct FileStepGuard {
  FileStepGuard() { tInFileStep = true; }
  ~FileStepGuard() { tInFileStep = false; }
};

const char* LevelName(LogLevel level) {
  switch (level) {
    case kLogDebug:
      return "DEBUG";
    case kLogInfo:
      return "INFO";
    case kLogError:
      return "ERROR";
    case kLogFault:
      return "FAULT";
    default:
      return "LOG";
  }
}

bool Oversized(const std::filesystem::path& file) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  return !ec && size > kRotateAbove;
}

// Both plug-ins of a host, and other processes of the same host kind, append to this file. One of
// them rotates it under the lock; the others find the lock taken, or the file small again, and
// append: their line lands whole in the archive or in the new file. Without the lock a second
// rotation right after the first would delete the fresh archive.
void RotateIfOversized(const std::filesystem::path& file) {
  if (!Oversized(file))
    return;
  std::filesystem::path lockFile = file;
  lockFile += ".lock";
  const CrossProcessLock lock(lockFile, CrossProcessLock::Wait::No);
  if (!lock.Held() || !Oversized(file))
    return;
  std::error_code ec;
  std::filesystem::path archive = file;
  archive += ".1";
  std::filesystem::remove(archive, ec);
  if (void (*hook)() = gRotationHook.load())
    hook();
  std::filesystem::rename(file, archive, ec);
  if (ec)
    std::filesystem::remove(file, ec);
}

}  // namespace

namespace logdetail {

LogLevel MinLevelFromEnv(const char* value) {
  return (value != nullptr && std::strcmp(value, "1") == 0) ? kLogDebug : kLogInfo;
}

void StripAnnotations(const char* format, char* out, size_t outSize) {
  size_t o = 0;
  for (const char* p = format; *p != '\0' && o + 1 < outSize; ++p) {
    if (p[0] == '%' && p[1] == '{') {
      out[o++] = '%';
      p += 2;
      while (*p != '\0' && *p != '}')
        ++p;
      if (*p == '\0')
        break;
      continue;  // the loop's ++p skips the '}'
    }
    out[o++] = *p;
  }
  out[o] = '\0';
}

void AppendLineToFile(const std::filesystem::path& file, const char* line, size_t length) {
  if (tInFileStep)
    return;
  FileStepGuard guard;
  std::lock_guard<std::mutex> lock(FileMutex());
  CreateLogFolder(file.parent_path());
  RotateIfOversized(file);
  logplatform::AppendOnce(file, line, length);
}

void SetRotationHook(void (*hook)()) {
  gRotationHook.store(hook);
}

}  // namespace logdetail

LogLevel MinLogLevel() {
  return gMinLevel.load(std::memory_order_relaxed);
}

void CreateLogFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (std::filesystem::create_directories(folder, ec))
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
}

std::filesystem::path LogFolder() {
  return logplatform::LocalDataBase() / "Sorvane";
}

std::string LogFileNameFor(HostKind kind) {
  const std::string suffix = HostFileSuffix(kind);
  return suffix.empty() ? std::string("plugin.log") : "plugin-" + suffix + ".log";
}

void Log(const LogChannel& channel, LogLevel level, const char* format, ...) {
  if (level < gMinLevel.load(std::memory_order_relaxed))
    return;
  if (format == nullptr)
    format = "";

  char converted[kFormatBuffer];
  logdetail::StripAnnotations(format, converted, sizeof converted);

  char message[kMessageBuffer];
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(message, sizeof message, converted, args);
  va_end(args);
  if (formatted < 0)
    return;
  const int messageLength = formatted > 1023 ? 1023 : formatted;

  char timestamp[32];
  logplatform::LocalTimestamp(timestamp, sizeof timestamp);

  char line[kLineBuffer];
  const int written = std::snprintf(line, sizeof line, "[%s %s:%s:%s] %.*s\r\n", timestamp,
                                    channel.subsystem ? channel.subsystem : "?",
                                    channel.category ? channel.category : "?", LevelName(level),
                                    messageLength, message);
  if (written < 1)
    return;
  const size_t lineLength = written > 1279 ? 1279 : static_cast<size_t>(written);

  logplatform::DebuggerOutput(line);
  try {
    logdetail::AppendLineToFile(LogFolder() / LogFileNameFor(DetectHost()), line, lineLength);
  } catch (...) {
    // Path building may allocate; a failure there drops the line like any other file failure.
  }
}

}  // namespace Sorvane
