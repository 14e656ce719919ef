#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/cross_process_lock.h"

namespace Sorvane {

CrossProcessLock::CrossProcessLock(const std::filesystem::path& lockFile, Wait wait) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  handle_ = fd;
  const int operation = wait == Wait::UntilHeld ? LOCK_EX : LOCK_EX | LOCK_NB;
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  held_ = result == 0;
}

CrossProcessLock::~CrossProcessLock() {
  if (handle_ >= 0)
    ::close(static_cast<int>(handle_));  // releases the lock
}

}  // namespace Sorvane
