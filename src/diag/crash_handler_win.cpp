#include <windows.h>
// windows.h first
#include <dbghelp.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <string>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/signal_safe_text.h"

// The handlers run in whatever state the crash left: the heap may be corrupt (a second fault in
// HeapAlloc would leave no trace at all) and after a stack overflow only a few pages of stack are
// left. So they use no heap, nothing that builds paths, and, for a stack overflow, not even their
// own stack: the work goes to a helper thread started at install time.
namespace Sorvane {
namespace {

// The big buffers live in these functions only; kept out of the handlers' own frames, which a
// stack overflow leaves almost no room for.
#if defined(_MSC_VER)
#define SV_NOINLINE __declspec(noinline)
#else
#define SV_NOINLINE __attribute__((noinline))
#endif

constexpr size_t kPathCapacity = 1024;
constexpr DWORD kLineWaitMs = 10000;
constexpr DWORD kDumpWaitMs = 120000;  // a dump of a large host takes a while
constexpr DWORD kStackOverflow = 0xC00000FD;

// Lines for exceptions that may be handled by the host (first chance): a burst of this many,
// then one a second.
constexpr unsigned kLineBurst = 10;
constexpr ULONGLONG kLineRefillMs = 1000;

std::atomic<bool> gInstalled{false};
LPTOP_LEVEL_EXCEPTION_FILTER gPreviousFilter = nullptr;

// Prepared at install.
wchar_t gLogPath[kPathCapacity];
wchar_t gDumpFolder[kPathCapacity];

// The thread writing a line or a dump now (0: none). One at a time, process-wide; a fault inside
// our own writing finds its own thread here and passes straight through.
std::atomic<DWORD> gWriter{0};
std::atomic<bool> gDumping{false};

std::atomic<unsigned> gLineTokens{kLineBurst};
std::atomic<ULONGLONG> gLastRefillMs{0};
std::atomic<unsigned> gSuppressedLines{0};
std::atomic<const void*> gLastSuppressed{nullptr};  // the exception record whose line was dropped

enum class Job { FaultLine, Dump };
struct HelperRequest {
  Job job;
  EXCEPTION_POINTERS* info;
  DWORD threadId;
};
HANDLE gHelperWake = nullptr;
HANDLE gHelperDone = nullptr;
HelperRequest gRequest;  // written by the writer (gWriter) before it wakes the helper

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

// Becomes the one writer; false for a fault inside our own writing, or when another thread is
// still writing after a while (its process is probably dying: do not hold this one up).
bool EnterWriter() {
  const DWORD self = GetCurrentThreadId();
  for (int i = 0; i < 200; ++i) {
    DWORD idle = 0;
    if (gWriter.compare_exchange_strong(idle, self))
      return true;
    if (idle == self)
      return false;
    Sleep(5);
  }
  return false;
}

void LeaveWriter() {
  gWriter.store(0);
}

bool TakeLineToken() {
  const ULONGLONG now = GetTickCount64();
  ULONGLONG last = gLastRefillMs.load();
  if (now - last >= kLineRefillMs && gLastRefillMs.compare_exchange_strong(last, now)) {
    const unsigned refill = static_cast<unsigned>((now - last) / kLineRefillMs);
    unsigned tokens = gLineTokens.load();
    while (!gLineTokens.compare_exchange_weak(
        tokens, tokens + refill > kLineBurst ? kLineBurst : tokens + refill)) {
    }
  }
  unsigned tokens = gLineTokens.load();
  while (tokens > 0 && !gLineTokens.compare_exchange_weak(tokens, tokens - 1)) {
  }
  return tokens > 0;
}

void CopyWide(wchar_t* out, const std::wstring& text) {
  const size_t n = text.size() < kPathCapacity - 1 ? text.size() : kPathCapacity - 1;
  std::memcpy(out, text.data(), n * sizeof(wchar_t));
  out[n] = L'\0';
}

// The file name of the module that holds `address` as UTF-8, "?" when none; its base in `base`.
void ModuleNameOf(const void* address, char* out, size_t capacity, const char** base) {
  HMODULE module = nullptr;
  *base = nullptr;
  std::strcpy(out, "?");
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module) ||
      module == nullptr)
    return;
  *base = reinterpret_cast<const char*>(module);
  wchar_t path[kPathCapacity];
  const DWORD length = GetModuleFileNameW(module, path, kPathCapacity);
  if (length == 0 || length >= kPathCapacity)
    return;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      name = p + 1;
  }
  if (WideCharToMultiByte(CP_UTF8, 0, name, -1, out, static_cast<int>(capacity), nullptr,
                          nullptr) == 0)
    std::strcpy(out, "?");
}

void AppendTimestamp(SignalSafeText& text) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  text.Decimal(st.wYear, 4).Append("-").Decimal(st.wMonth, 2).Append("-").Decimal(st.wDay, 2);
  text.Append(" ").Decimal(st.wHour, 2).Append(":").Decimal(st.wMinute, 2).Append(":");
  text.Decimal(st.wSecond, 2).Append(".").Decimal(st.wMilliseconds, 3);
}

// The log's Fault line for the exception, appended to the log file with one write.
SV_NOINLINE void WriteFaultLine(const EXCEPTION_POINTERS* info, DWORD threadId,
                                unsigned suppressed) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  char module[MAX_PATH * 3];
  const char* base = nullptr;
  ModuleNameOf(record->ExceptionAddress, module, sizeof module, &base);
  const char* address = static_cast<const char*>(record->ExceptionAddress);
  char buffer[1536];
  SignalSafeText line(buffer, sizeof buffer);
  line.Append("[");
  AppendTimestamp(line);
  line.Append(" ").Append(channels::kCrash.subsystem).Append(":").Append(channels::kCrash.category);
  line.Append(":FAULT] [VEH] fatal exception code=0x").Hex(record->ExceptionCode, 8, true);
  line.Append(" addr=0x").Hex(reinterpret_cast<uintptr_t>(address));
  line.Append(" module=").Append(module).Append("+0x");
  line.Hex(base != nullptr ? static_cast<uint64_t>(address - base) : 0);
  line.Append(" tid=").Decimal(threadId);
  if (suppressed > 0)
    line.Append(" (").Decimal(suppressed).Append(" earlier lines suppressed)");
  line.Append("\r\n");
  HANDLE file = CreateFileW(gLogPath, FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

// "<folder>\YYYY-MM-DD_hh-mm-ss_<pid>.dmp" into `out`.
void ComposeDumpPath(wchar_t* out, size_t capacity) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  char buffer[64];
  SignalSafeText name(buffer, sizeof buffer);
  name.Append("\\").Decimal(st.wYear, 4).Append("-").Decimal(st.wMonth, 2).Append("-");
  name.Decimal(st.wDay, 2).Append("_").Decimal(st.wHour, 2).Append("-").Decimal(st.wMinute, 2);
  name.Append("-").Decimal(st.wSecond, 2).Append("_").Decimal(GetCurrentProcessId());
  name.Append(".dmp");
  size_t n = 0;
  for (const wchar_t* c = gDumpFolder; *c && n + 1 < capacity; ++c)
    out[n++] = *c;
  for (size_t i = 0; i < name.size() && n + 1 < capacity; ++i)
    out[n++] = static_cast<wchar_t>(name.data()[i]);
  out[n] = L'\0';
}

// Announces the dump on the debugger output: "[Sorvane] crash dump: <path>".
void AnnounceDump(const wchar_t* path, bool written) {
  char buffer[kPathCapacity * 3 + 64];
  SignalSafeText line(buffer, sizeof buffer);
  line.Append(written ? "[Sorvane] crash dump: " : "[Sorvane] crash dump WRITE FAILED at: ");
  char utf8[kPathCapacity * 3];
  if (WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr) > 0)
    line.Append(utf8);
  line.Append("\n");
  OutputDebugStringA(line.data());
}

SV_NOINLINE void WriteDump(EXCEPTION_POINTERS* info, DWORD threadId) {
  wchar_t path[kPathCapacity + 64];
  ComposeDumpPath(path, sizeof path / sizeof path[0]);
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = threadId;
  exception.ExceptionPointers = info;
  exception.ClientPointers = FALSE;
  const auto type = static_cast<MINIDUMP_TYPE>(0x1125);
  const BOOL ok = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                                    &exception, nullptr, nullptr);
  CloseHandle(file);
  AnnounceDump(path, ok != FALSE);
}

SV_NOINLINE void RunJob(const HelperRequest& request) {
  if (request.job == Job::Dump)
    WriteDump(request.info, request.threadId);
  else
    WriteFaultLine(request.info, request.threadId, gSuppressedLines.exchange(0));
}

DWORD WINAPI HelperThread(LPVOID) {
  for (;;) {
    if (WaitForSingleObject(gHelperWake, INFINITE) != WAIT_OBJECT_0)
      return 0;
    RunJob(gRequest);
    SetEvent(gHelperDone);
  }
}

// Runs the job on the helper thread and waits for it (a stack overflow leaves the faulting
// thread too little stack); on this thread when there is no helper, unless the stack is gone.
void RunWhereThereIsStack(Job job, EXCEPTION_POINTERS* info) {
  const HelperRequest request{job, info, GetCurrentThreadId()};
  if (gHelperWake != nullptr) {
    gRequest = request;
    SetEvent(gHelperWake);
    WaitForSingleObject(gHelperDone, job == Job::Dump ? kDumpWaitMs : kLineWaitMs);
    return;
  }
  if (info->ExceptionRecord->ExceptionCode != kStackOverflow)
    RunJob(request);
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (!IsSeriousCode(code) || !EnterWriter())
    return EXCEPTION_CONTINUE_SEARCH;
  if (!TakeLineToken()) {
    gSuppressedLines.fetch_add(1);
    gLastSuppressed.store(info->ExceptionRecord);
  } else if (code == kStackOverflow) {
    RunWhereThereIsStack(Job::FaultLine, info);
  } else {
    RunJob({Job::FaultLine, info, GetCurrentThreadId()});
  }
  LeaveWriter();
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info) {
  if (gDumping.exchange(true)) {
    // Another thread is writing the dump; returning would end the process before it is done.
    Sleep(kDumpWaitMs);
  } else if (EnterWriter()) {
    // The process dies of this one: its line must be there even if the rate limit dropped it.
    if (IsSeriousCode(info->ExceptionRecord->ExceptionCode) &&
        gLastSuppressed.exchange(nullptr) == info->ExceptionRecord)
      RunWhereThereIsStack(Job::FaultLine, info);
    RunWhereThereIsStack(Job::Dump, info);
    LeaveWriter();
  }
  if (gPreviousFilter != nullptr)
    return gPreviousFilter(info);
  return EXCEPTION_CONTINUE_SEARCH;
}

void PrepareAtInstall() {
  CopyWide(gLogPath, (LogFolder() / LogFileNameFor(DetectHost())).wstring());
  CopyWide(gDumpFolder, CrashDumpFolder().wstring());
  gHelperWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  gHelperDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE helper = gHelperWake && gHelperDone
                      ? CreateThread(nullptr, 256 * 1024, HelperThread, nullptr, 0, nullptr)
                      : nullptr;
  if (helper == nullptr) {
    gHelperWake = nullptr;
    Log(channels::kCrash, kLogError, "crash handler: no helper thread (error %lu)", GetLastError());
    return;
  }
  CloseHandle(helper);
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

// The host's threads keep their own stack guarantee: an overflow on one is handled by the
// helper thread.
void InstallCrashHandler() {
  if (gInstalled.exchange(true))
    return;
  PrepareAtInstall();
  AddVectoredExceptionHandler(1, VectoredHandler);
  gPreviousFilter = SetUnhandledExceptionFilter(CrashFilter);
  Log(channels::kCrash, kLogInfo,
      "crash handler installed (dumps → %%LOCALAPPDATA%%\\Sorvane\\crashes\\, + VEH diagnostic)");
}

}  // namespace Sorvane
