#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "store/state_file.h"

namespace Sorvane::statefile::detail {
namespace {

std::string ErrorText(int error) {
  return std::system_category().message(error);
}

ReadResult Unreadable(int error) {
  return ReadResult{ReadStatus::Unreadable, {}, ErrorText(error)};
}

}  // namespace

ReadResult ReadWholeFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult{} : Unreadable(errno);
  ReadResult result{ReadStatus::Text, {}, {}};
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      return Unreadable(error);
    }
    if (got == 0)
      break;
    result.text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return result;
}

NewFile::NewFile(const std::filesystem::path& file)
    : handle_(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
  if (handle_ >= 0)
    ::fchmod(static_cast<int>(handle_), 0600);  // also when an older file was there
}

NewFile::~NewFile() {
  Close();
}

bool NewFile::IsOpen() const {
  return handle_ >= 0;
}

bool NewFile::Write(const std::string& text) {
  const char* at = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t put = ::write(static_cast<int>(handle_), at, left);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    at += put;
    left -= static_cast<size_t>(put);
  }
  return true;
}

bool NewFile::Flush() {
  return ::fsync(static_cast<int>(handle_)) == 0;
}

bool NewFile::Close() {
  if (handle_ < 0)
    return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0;
}

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to,
             std::string* failure) {
  if (::rename(from.c_str(), to.c_str()) == 0)
    return true;
  *failure = ErrorText(errno);
  return false;
}

bool SyncFolder(const std::filesystem::path& folder, std::string* failure) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *failure = ErrorText(errno);
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  if (!synced)
    *failure = ErrorText(errno);
  ::close(fd);
  return synced;
}

}  // namespace Sorvane::statefile::detail
