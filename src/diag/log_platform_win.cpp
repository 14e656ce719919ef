#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "diag/log_platform.h"

namespace Sorvane::logplatform {

void LocalTimestamp(char* out, size_t size) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  std::snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

void DebuggerOutput(const char* line) {
  OutputDebugStringA(line);
}

// Every writer (the other plug-in, other hosts) locks one byte far past the end while it appends:
// Windows makes each append-only write whole by itself, Wine and some network file systems do not
// (two processes there lose lines to each other). The lock never covers data, so readers and the
// rotation's rename are not held up.
bool AppendOnce(const std::filesystem::path& file, const char* data, size_t length) {
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  OVERLAPPED lockAt{};
  lockAt.Offset = 0xFFFFFFFEu;
  lockAt.OffsetHigh = 0x7FFFFFFFu;
  const BOOL locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt);
  DWORD written = 0;
  const BOOL ok = WriteFile(h, data, static_cast<DWORD>(length), &written, nullptr);
  if (locked)
    UnlockFileEx(h, 0, 1, 0, &lockAt);
  CloseHandle(h);
  return ok && written == length;
}

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

namespace {
std::optional<std::wstring> GetEnvWide(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  if (value == nullptr || *value == L'\0')
    return std::nullopt;
  return std::wstring(value);
}
}  // namespace

std::filesystem::path LocalDataBase() {
  if (auto local = GetEnvWide(L"LOCALAPPDATA"))
    return *local;
  if (auto profile = GetEnvWide(L"USERPROFILE")) {
    return std::filesystem::path(*profile) / L"AppData" / L"Local";
  }
  return L".";
}

}  // namespace Sorvane::logplatform
