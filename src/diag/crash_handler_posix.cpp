#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/signal_safe_text.h"

// The handler runs after memory may already be corrupt, possibly inside malloc (an abort from a
// heap check holds the heap lock): it uses only async-signal-safe calls and text composed into
// stack buffers, and everything that needs the heap, a lock or the loader is done at install time.
namespace Sorvane {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr size_t kPathCapacity = 1024;

std::atomic<bool> gInstalled{false};
std::atomic<bool> gHandling{false};
struct sigaction gPrevious[kSignalCount];

// Resolved at install time.
int gDumpFolderFd = -1;
char gDumpFolder[kPathCapacity];
char gLogPath[kPathCapacity];
long gUtcOffsetSeconds = 0;  // local time as at install; a later daylight-saving change is ignored

int SignalSlot(int sig) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == sig)
      return static_cast<int>(i);
  }
  return -1;
}

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n <= 0)
      return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

struct Fault {
  int sig;
  void* address;
  const char* module;
  size_t offset;
  long tid;
  timespec when;
};

CivilTime LocalTimeOf(const timespec& when) {
  return CivilTimeOf(static_cast<int64_t>(when.tv_sec) + gUtcOffsetSeconds);
}

void AppendFaultDetails(SignalSafeText& text, const Fault& fault) {
  text.Append("code=0x").Hex(static_cast<unsigned>(fault.sig), 8, true);
  text.Append(" addr=0x").Hex(reinterpret_cast<uintptr_t>(fault.address));
  text.Append(" module=").Append(fault.module).Append("+0x").Hex(fault.offset);
  text.Append(" tid=").Decimal(static_cast<uint64_t>(fault.tid));
}

// The same line the log writes for a Fault, appended with one write.
void WriteFaultLine(const Fault& fault) {
  const int fd = ::open(gLogPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    return;
  const CivilTime t = LocalTimeOf(fault.when);
  char buffer[1280];
  SignalSafeText line(buffer, sizeof buffer);
  line.Append("[").Decimal(static_cast<uint64_t>(t.year), 4).Append("-").Decimal(t.month, 2);
  line.Append("-").Decimal(t.day, 2).Append(" ").Decimal(t.hour, 2).Append(":");
  line.Decimal(t.minute, 2).Append(":").Decimal(t.second, 2).Append(".");
  line.Decimal(static_cast<uint64_t>(fault.when.tv_nsec / 1000000), 3);
  line.Append(" ").Append(channels::kCrash.subsystem).Append(":").Append(channels::kCrash.category);
  line.Append(":FAULT] [VEH] fatal exception ");
  AppendFaultDetails(line, fault);
  line.Append("\r\n");
  WriteAll(fd, line.data(), line.size());
  ::close(fd);
}

// "YYYY-MM-DD_hh-mm-ss_<pid>.txt", like the Windows minidump's name.
void ComposeDumpName(SignalSafeText& name, const Fault& fault) {
  const CivilTime t = LocalTimeOf(fault.when);
  name.Decimal(static_cast<uint64_t>(t.year), 4).Append("-").Decimal(t.month, 2).Append("-");
  name.Decimal(t.day, 2).Append("_").Decimal(t.hour, 2).Append("-").Decimal(t.minute, 2);
  name.Append("-").Decimal(t.second, 2).Append("_").Decimal(static_cast<uint64_t>(::getpid()));
  name.Append(".txt");
}

void WriteDump(const Fault& fault) {
  if (gDumpFolderFd < 0)
    return;
  char nameBuffer[64];
  SignalSafeText name(nameBuffer, sizeof nameBuffer);
  ComposeDumpName(name, fault);
  const int fd =
      ::openat(gDumpFolderFd, name.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  char buffer[1280];
  SignalSafeText header(buffer, sizeof buffer);
  header.Append("Sorvane crash\nsignal=").Decimal(static_cast<uint64_t>(fault.sig)).Append(" ");
  AppendFaultDetails(header, fault);
  header.Append(" pid=").Decimal(static_cast<uint64_t>(::getpid())).Append("\nbacktrace:\n");
  WriteAll(fd, header.data(), header.size());
  void* frames[64];
  const int count = ::backtrace(frames, 64);  // primed at install: no loading, no heap here
  ::backtrace_symbols_fd(frames, count, fd);
  ::close(fd);

  SignalSafeText announce(buffer, sizeof buffer);
  announce.Append("[Sorvane] crash dump: ").Append(gDumpFolder).Append("/").Append(name.data());
  announce.Append("\n");
  WriteAll(STDERR_FILENO, announce.data(), announce.size());
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

Fault DescribeFault(int sig, siginfo_t* info, void* context) {
  Fault fault{sig, FaultingInstruction(info, context), "?", 0, 0, {}};
  Dl_info where{};
  if (fault.address != nullptr && ::dladdr(fault.address, &where) != 0 &&
      where.dli_fname != nullptr) {
    fault.module = where.dli_fname;
    if (const char* slash = std::strrchr(fault.module, '/'))
      fault.module = slash + 1;
    fault.offset = static_cast<size_t>(static_cast<char*>(fault.address) -
                                       static_cast<char*>(where.dli_fbase));
  }
  fault.tid = static_cast<long>(::syscall(SYS_gettid));
  ::clock_gettime(CLOCK_REALTIME, &fault.when);
  return fault;
}

// A second thread faulting while the first writes waits for it (the first ends the process).
void WaitForOtherHandler() {
  const timespec step{0, 10 * 1000 * 1000};
  for (int i = 0; i < 300; ++i)
    ::nanosleep(&step, nullptr);
}

void OnFatalSignal(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  if (gHandling.exchange(true)) {
    WaitForOtherHandler();
  } else {
    const Fault fault = DescribeFault(sig, info, context);
    WriteFaultLine(fault);
    WriteDump(fault);
  }
  // Hand the signal on to whoever handled it before us (the default action ends the process);
  // it is delivered once this handler returns.
  const int slot = SignalSlot(sig);
  if (slot >= 0)
    ::sigaction(sig, &gPrevious[slot], nullptr);
  errno = savedErrno;
  ::raise(sig);
}

void CopyPath(char* out, const std::filesystem::path& path) {
  const std::string text = path.string();
  const size_t n = text.size() < kPathCapacity - 1 ? text.size() : kPathCapacity - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

void ResolveAtInstall() {
  const std::filesystem::path folder = CrashDumpFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  CopyPath(gDumpFolder, folder);
  CopyPath(gLogPath, LogFolder() / LogFileNameFor(DetectHost()));
  gDumpFolderFd = ::open(gDumpFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const time_t now = ::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  gUtcOffsetSeconds = local.tm_gmtoff;
  // The first backtrace loads the unwinder, which allocates: do it now, not in the handler.
  void* frames[4];
  ::backtrace(frames, 4);
}

}  // namespace

std::filesystem::path CrashDumpFolder() {
  return LogFolder() / "crashes";
}

void InstallCrashHandler() {
  if (gInstalled.exchange(true))
    return;
  ResolveAtInstall();
  PrepareThreadForCrashes();
  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kSignalCount; ++i) {
    ::sigaction(kSignals[i], &action, &gPrevious[i]);
  }
  Log(channels::kCrash, kLogInfo, "crash handler installed (dumps → %s, + signal diagnostic)",
      gDumpFolder);
}

}  // namespace Sorvane
