#include <windows.h>

#include <system_error>

#include "store/state_file.h"

namespace Sorvane::statefile::detail {
namespace {

std::string ErrorText(DWORD error) {
  return std::system_category().message(static_cast<int>(error));
}

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

struct ReadHandle {
  HANDLE handle;
  ~ReadHandle() {
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
  }
};

}  // namespace

ReadResult ReadWholeFile(const std::filesystem::path& file) {
  // Delete sharing lets another process's writer rename its new file over this one meanwhile.
  const ReadHandle in{CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (in.handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return ReadResult{};
    return ReadResult{ReadStatus::Unreadable, {}, ErrorText(error)};
  }
  ReadResult result{ReadStatus::Text, {}, {}};
  char buffer[4096];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(in.handle, buffer, sizeof buffer, &got, nullptr))
      return ReadResult{ReadStatus::Unreadable, {}, ErrorText(GetLastError())};
    if (got == 0)
      return result;
    result.text.append(buffer, got);
  }
}

NewFile::NewFile(const std::filesystem::path& file)
    : handle_(reinterpret_cast<intptr_t>(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                     nullptr))) {}

NewFile::~NewFile() {
  Close();
}

bool NewFile::IsOpen() const {
  return AsHandle(handle_) != INVALID_HANDLE_VALUE;
}

bool NewFile::Write(const std::string& text) {
  const char* at = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD put = 0;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    if (!WriteFile(AsHandle(handle_), at, chunk, &put, nullptr) || put == 0)
      return false;
    at += put;
    left -= put;
  }
  return true;
}

bool NewFile::Flush() {
  return FlushFileBuffers(AsHandle(handle_)) != FALSE;
}

bool NewFile::Close() {
  if (!IsOpen())
    return true;
  const HANDLE handle = AsHandle(handle_);
  handle_ = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
  return CloseHandle(handle) != FALSE;
}

bool Replace(const std::filesystem::path& from, const std::filesystem::path& to,
             std::string* failure) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  *failure = ErrorText(GetLastError());
  return false;
}

// The write-through replace returns only once the rename is on the disk: nothing left to do.
bool SyncFolder(const std::filesystem::path&, std::string*) {
  return true;
}

}  // namespace Sorvane::statefile::detail
