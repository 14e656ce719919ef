#include "support/plugin_log.h"

#include <atomic>
#include <system_error>

namespace Sorvane::test {
namespace {

std::atomic<uintmax_t> gTestStart{0};  // where the current test's part of the log begins

uintmax_t SizeOf(const std::filesystem::path& file) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

}  // namespace

LogMark MarkLog() {
  return LogMark{SizeOf(PluginLogPath())};
}

std::string LogSince(const LogMark& mark) {
  const std::filesystem::path file = PluginLogPath();
  std::string current = ReadFile(file);
  if (current.size() >= mark.offset)
    return current.substr(static_cast<size_t>(mark.offset));
  std::filesystem::path archive = file;
  archive += ".1";
  const std::string archived = ReadFile(archive);
  const size_t from = mark.offset < archived.size() ? static_cast<size_t>(mark.offset) : archived.size();
  return archived.substr(from) + current;
}

std::string TestLog() {
  return LogSince(LogMark{gTestStart.load()});
}

void MarkTestStart() {
  gTestStart.store(MarkLog().offset);
}

}  // namespace Sorvane::test
