#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"

namespace Sorvane {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kAltStackSize = 64 * 1024;

std::atomic<bool> gInstalled{false};
struct sigaction gPrevious[sizeof kSignals / sizeof kSignals[0]];
char gDumpFolder[1024];  // resolved at install time: no allocation inside the handler

int SignalSlot(int sig) {
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] == sig)
      return static_cast<int>(i);
  }
  return -1;
}

void WriteText(int fd, const char* text) {
  const size_t n = std::strlen(text);
  if (::write(fd, text, n) < 0)
    return;
}

// The dump: time-stamped name like the Windows minidump, plain text with a backtrace.
void WriteDump(int sig, void* address, const char* module, size_t offset) {
  const time_t now = ::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char path[1200];
  std::snprintf(path, sizeof path, "%s/%04u-%02u-%02u_%02u-%02u-%02u_%lu.txt", gDumpFolder,
                unsigned(local.tm_year + 1900), unsigned(local.tm_mon + 1), unsigned(local.tm_mday),
                unsigned(local.tm_hour), unsigned(local.tm_min), unsigned(local.tm_sec),
                static_cast<unsigned long>(::getpid()));
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  char header[1400];
  std::snprintf(header, sizeof header,
                "Sorvane crash\nsignal=%d addr=%p module=%s+0x%zx tid=%ld pid=%ld\nbacktrace:\n",
                sig, address, module, offset, static_cast<long>(::syscall(SYS_gettid)),
                static_cast<long>(::getpid()));
  WriteText(fd, header);
  void* frames[64];
  const int count = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, count, fd);
  ::close(fd);
  std::snprintf(header, sizeof header, "[Sorvane] crash dump: %s\n", path);
  WriteText(STDERR_FILENO, header);
}

// The faulting instruction, like the exception address on Windows (si_addr is the data address).
void* FaultingInstruction(siginfo_t* info, void* context) {
#if defined(__x86_64__)
  if (context != nullptr) {
    return reinterpret_cast<void*>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
  }
#endif
  return info != nullptr ? info->si_addr : nullptr;
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
  void* address = FaultingInstruction(info, context);
  Dl_info where{};
  const char* module = "?";
  size_t offset = 0;
  if (address != nullptr && ::dladdr(address, &where) != 0 && where.dli_fname != nullptr) {
    module = where.dli_fname;
    if (const char* slash = std::strrchr(module, '/'))
      module = slash + 1;
    offset = static_cast<size_t>(static_cast<char*>(address) - static_cast<char*>(where.dli_fbase));
  }
  Log(channels::kCrash, kLogFault,
      "[VEH] fatal exception code=0x%08lX addr=%p module=%s+0x%zx tid=%lu",
      static_cast<unsigned long>(sig), address, module, offset,
      static_cast<unsigned long>(::syscall(SYS_gettid)));
  WriteDump(sig, address, module, offset);

  // Hand the signal on to whoever handled it before us (the default action ends the process).
  const int slot = SignalSlot(sig);
  if (slot >= 0)
    ::sigaction(sig, &gPrevious[slot], nullptr);
  ::raise(sig);
}

void InstallAlternateStack() {
  static char* stack = new char[kAltStackSize];
  stack_t ss{};
  ss.ss_sp = stack;
  ss.ss_size = kAltStackSize;
  ::sigaltstack(&ss, nullptr);
}

}  // namespace

std::filesystem::path CrashDumpFolder() {
  return LogFolder() / "crashes";
}

void InstallCrashHandler() {
  if (gInstalled.exchange(true))
    return;
  const std::filesystem::path folder = CrashDumpFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::snprintf(gDumpFolder, sizeof gDumpFolder, "%s", folder.c_str());
  InstallAlternateStack();
  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    ::sigaction(kSignals[i], &action, &gPrevious[i]);
  }
  Log(channels::kCrash, kLogInfo, "crash handler installed (dumps → %s, + signal diagnostic)",
      gDumpFolder);
}

}  // namespace Sorvane
