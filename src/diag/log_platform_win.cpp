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

bool AppendOnce(const std::filesystem::path& file, const char* data, size_t length) {
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, data, static_cast<DWORD>(length), &written, nullptr);
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
