#include <windows.h>

#include "base/cross_process_lock.h"

namespace Sorvane {

CrossProcessLock::CrossProcessLock(const std::filesystem::path& lockFile, Wait wait) {
  const HANDLE file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  handle_ = reinterpret_cast<intptr_t>(file);
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK;
  if (wait == Wait::No)
    flags |= LOCKFILE_FAIL_IMMEDIATELY;
  OVERLAPPED at{};
  held_ = LockFileEx(file, flags, 0, 1, 0, &at) != FALSE;
}

CrossProcessLock::~CrossProcessLock() {
  if (handle_ == -1)
    return;
  const auto file = reinterpret_cast<HANDLE>(handle_);
  if (held_) {
    OVERLAPPED at{};
    UnlockFileEx(file, 0, 1, 0, &at);
  }
  CloseHandle(file);
}

}  // namespace Sorvane
