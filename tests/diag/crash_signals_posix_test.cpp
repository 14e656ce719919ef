#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "diag/crash_handler.h"
#include "diag/log.h"
#include "diag/sanitizer_build.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

// Each case really raises a hooked signal in a forked child and checks what the handler left:
// the dump file named after the child, and the Fault line of the same thread in the log.
namespace Sorvane {
namespace {

namespace fs = std::filesystem;

struct CrashOutcome {
  int signal = 0;    // the signal that ended the child, 0 when it exited
  std::string dump;  // the child's dump file, empty when there is none
};

class CrashSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::SanitizerOwnsFatalSignals())
      GTEST_SKIP() << "the sanitizer handles fatal signals itself in this build";
  }
};

CrashOutcome CrashInChild(void (*body)()) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    InstallCrashHandler();
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  CrashOutcome outcome;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  const std::string suffix = "_" + std::to_string(pid) + ".txt";
  std::error_code ec;
  for (fs::directory_iterator it(CrashDumpFolder(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > suffix.size() && name.ends_with(suffix))
      outcome.dump = test::ReadFile(it->path());
  }
  return outcome;
}

std::string FieldOf(const std::string& text, const std::string& key) {
  const size_t at = text.find(" " + key + "=");
  if (at == std::string::npos)
    return {};
  const size_t start = at + key.size() + 2;
  return text.substr(start, text.find_first_of(" \n", start) - start);
}

// The dump names the signal, the thread and the code; the log holds a Fault line for that thread.
void ExpectDumpAndFaultLine(const CrashOutcome& outcome, int sig) {
  EXPECT_EQ(outcome.signal, sig) << "the signal is passed on and ends the process";
  ASSERT_FALSE(outcome.dump.empty()) << "no dump for signal " << sig;
  EXPECT_EQ(outcome.dump.rfind("Sorvane crash\nsignal=" + std::to_string(sig) + " ", 0), 0u)
      << outcome.dump;
  const size_t trace = outcome.dump.find("\nbacktrace:\n");
  ASSERT_NE(trace, std::string::npos) << outcome.dump;
  EXPECT_GT(outcome.dump.size(), trace + 12) << "at least one frame";
  const std::string tid = FieldOf(outcome.dump, "tid");
  const std::string code = FieldOf(outcome.dump, "code");
  ASSERT_FALSE(tid.empty());
  const std::string log = test::TestLog();
  const std::string line = ":crash:FAULT] [VEH] fatal exception code=" + code + " ";
  bool found = false;
  for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
    const std::string whole = log.substr(at, log.find('\n', at) - at);
    found = found || whole.find(" tid=" + tid + "\r") != std::string::npos;
  }
  EXPECT_TRUE(found) << "no Fault line for tid " << tid << " in\n" << log;
}

fs::path gBusFile;

void WriteThroughNull() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

void ReadPastTruncatedMapping() {
  const int fd = ::open(gBusFile.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (::ftruncate(fd, 4096) != 0)
    return;
  auto* mapped =
      static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  if (::ftruncate(fd, 0) != 0)
    return;
  (void)mapped[0];
}

void ExecuteTrap() {
  __builtin_trap();
}

void DivideByZero() {
  volatile int zero = 0;
  volatile int numerator = 7;  // 1 / x is compiled without a division
  volatile int result = numerator / zero;
  (void)result;
}

void Abort() {
  std::abort();
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[2048];
  frame[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}

// The installing (main) thread is not the one that overflows.
void OverflowOnAnotherThread() {
  std::thread worker([] {
    PrepareThreadForCrashes();
    Recurse(0);
  });
  worker.join();
}

TEST_F(CrashSignals, EveryHookedSignalLeavesDumpAndFaultLine) {
  gBusFile = test::MakeTempDir("bus") / "mapped";
  const struct {
    void (*body)();
    int sig;
  } cases[] = {{WriteThroughNull, SIGSEGV},
               {ReadPastTruncatedMapping, SIGBUS},
               {ExecuteTrap, SIGILL},
               {DivideByZero, SIGFPE},
               {Abort, SIGABRT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.sig));
    ExpectDumpAndFaultLine(CrashInChild(c.body), c.sig);
  }
}

TEST_F(CrashSignals, StackOverflowOnAPreparedThreadIsReported) {
  const CrashOutcome outcome = CrashInChild(OverflowOnAnotherThread);
  ExpectDumpAndFaultLine(outcome, SIGSEGV);
  EXPECT_NE(FieldOf(outcome.dump, "tid"), FieldOf(outcome.dump, "pid"))
      << "the fault was on the worker thread";
}

}  // namespace
}  // namespace Sorvane
