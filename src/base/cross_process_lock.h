#pragma once
#include <cstdint>
#include <filesystem>

namespace Sorvane {

// An exclusive lock that other processes honour, and other modules of this one too (each holder
// opens the lock file itself): flock on POSIX, LockFileEx on Windows. The lock file stays behind;
// removing it would let two processes lock two different files of the same name.
class CrossProcessLock {
 public:
  enum class Wait { UntilHeld, No };

  // Not held when the lock file cannot be opened (its folder is missing, ...) or, with Wait::No,
  // when someone else holds it.
  CrossProcessLock(const std::filesystem::path& lockFile, Wait wait);
  ~CrossProcessLock();
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

  bool Held() const { return held_; }

 private:
  intptr_t handle_ = -1;  // file descriptor or HANDLE
  bool held_ = false;
};

}  // namespace Sorvane
