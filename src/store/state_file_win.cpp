#include <windows.h>

#include "store/state_file.h"

namespace Sorvane::statefile::detail {
namespace {

struct FileHandle {
  HANDLE handle;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
  }
};

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  // Delete sharing lets another process's writer rename its new file over this one meanwhile.
  const FileHandle in{CreateFileW(file.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (in.handle == INVALID_HANDLE_VALUE)
    return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(in.handle, buffer, sizeof buffer, &got, nullptr))
      return std::string();  // counts as an empty read: tried again
    if (got == 0)
      return text;
    text.append(buffer, got);
  }
}

}  // namespace Sorvane::statefile::detail
