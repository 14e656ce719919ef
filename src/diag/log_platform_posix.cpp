#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "diag/log_platform.h"

namespace Sorvane::logplatform {

void LocalTimestamp(char* out, size_t size) {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  localtime_r(&tv.tv_sec, &local);
  std::snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned(local.tm_year + 1900),
                unsigned(local.tm_mon + 1), unsigned(local.tm_mday), unsigned(local.tm_hour),
                unsigned(local.tm_min), unsigned(local.tm_sec), unsigned(tv.tv_usec / 1000));
}

// Linux has no debugger channel for plug-ins; the file is the only output.
void DebuggerOutput(const char*) {}

bool AppendOnce(const std::filesystem::path& file, const char* data, size_t length) {
  // Owner-only: the log holds pairing codes.
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  const ssize_t written = ::write(fd, data, length);
  ::close(fd);
  return written == static_cast<ssize_t>(length);
}

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

std::filesystem::path LocalDataBase() {
  for (const char* name : {"LOCALAPPDATA", "XDG_STATE_HOME"}) {
    const auto value = GetEnv(name);
    if (value && !value->empty())
      return *value;
  }
  const auto home = GetEnv("HOME");
  if (home && !home->empty())
    return std::filesystem::path(*home) / ".local" / "state";
  return ".";
}

}  // namespace Sorvane::logplatform
