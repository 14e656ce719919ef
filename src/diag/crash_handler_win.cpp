#include <windows.h>
// windows.h first
#include <dbghelp.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"

namespace Sorvane {
namespace {

std::atomic<bool> gInstalled{false};
LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;

bool IsSeriousCode(DWORD code) {
  switch (code) {
    case 0xC0000005:  // access violation
    case 0xC00000FD:  // stack overflow
    case 0xC000001D:  // illegal instruction
    case 0xC0000094:  // integer division by zero
    case 0xC0000374:  // heap corruption
      return true;
    default:
      return false;
  }
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (!IsSeriousCode(code))
    return EXCEPTION_CONTINUE_SEARCH;
  void* address = info->ExceptionRecord->ExceptionAddress;
  HMODULE module = nullptr;
  char path[260] = "?";
  size_t offset = 0;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module) &&
      module != nullptr) {
    if (GetModuleFileNameA(module, path, sizeof path) == 0)
      lstrcpyA(path, "?");
    offset = static_cast<size_t>(static_cast<const char*>(address) -
                                 reinterpret_cast<const char*>(module));
  }
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/')
      name = p + 1;
  }
  Log(channels::kCrash, kLogFault,
      "[VEH] fatal exception code=0x%08lX addr=%p module=%s+0x%zx tid=%lu",
      static_cast<unsigned long>(code), address, name, offset,
      static_cast<unsigned long>(GetCurrentThreadId()));
  return EXCEPTION_CONTINUE_SEARCH;
}

std::wstring DumpPath() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  wchar_t name[64];
  swprintf(name, 64, L"\\%04u-%02u-%02u_%02u-%02u-%02u_%lu.dmp", st.wYear, st.wMonth, st.wDay,
           st.wHour, st.wMinute, st.wSecond, static_cast<unsigned long>(GetCurrentProcessId()));
  return CrashDumpFolder().wstring() + name;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info) {
  const std::wstring path = DumpPath();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = GetCurrentThreadId();
    exception.ExceptionPointers = info;
    exception.ClientPointers = FALSE;
    const auto type = static_cast<MINIDUMP_TYPE>(0x1125);
    const BOOL ok = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                                      &exception, nullptr, nullptr);
    CloseHandle(file);
    const std::wstring line =
        std::wstring(ok ? L"[Sorvane] crash dump: " : L"[Sorvane] crash dump WRITE FAILED at: ") +
        path + L"\n";
    OutputDebugStringW(line.c_str());
  }
  if (gPreviousFilter != nullptr)
    return gPreviousFilter(info);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

std::filesystem::path CrashDumpFolder() {
  PWSTR known = nullptr;
  std::wstring folder = L".";
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known) {
    folder = std::wstring(known) + L"\\Sorvane";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\crashes";
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  if (known != nullptr)
    CoTaskMemFree(known);
  return folder;
}

void InstallCrashHandler() {
  if (gInstalled.exchange(true))
    return;
  AddVectoredExceptionHandler(1, VectoredHandler);
  PrepareThreadForCrashes();
  gPreviousFilter = SetUnhandledExceptionFilter(CrashFilter);
  Log(channels::kCrash, kLogInfo,
      "crash handler installed (dumps → %%LOCALAPPDATA%%\\Sorvane\\crashes\\, + VEH diagnostic)");
}

}  // namespace Sorvane
