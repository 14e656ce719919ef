#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "store/other_process.h"
#include "store/state_file.h"

extern char** environ;

namespace Sorvane::test {
namespace {

class PosixProcess : public OtherProcess {
 public:
  explicit PosixProcess(pid_t pid) : pid_(pid) {}
  ~PosixProcess() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  int Wait(std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline)
        return -1;  // killed by the destructor
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_;
};

class RefusedReads : public UnreadableFiles {
 public:
  RefusedReads(const std::vector<std::filesystem::path>& files,
               std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    statefile::SetStepHook(
        [files, until](statefile::FileStep step, const std::filesystem::path& target) {
          return step != statefile::FileStep::Read || std::chrono::steady_clock::now() >= until ||
                 std::find(files.begin(), files.end(), target) == files.end();
        });
  }
  ~RefusedReads() override { statefile::SetStepHook(nullptr); }
};

}  // namespace

std::filesystem::path WorkerProgram() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "sv_state_worker";
}

std::unique_ptr<OtherProcess> OtherProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) {
  std::vector<std::string> all{program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return nullptr;
  return std::make_unique<PosixProcess>(pid);
}

void UseProfile(const std::filesystem::path& root) {
  const std::string roaming = (root / "roaming").string();
  const std::string local = (root / "local").string();
  for (const char* name : {"APPDATA", "XDG_CONFIG_HOME"})
    setenv(name, roaming.c_str(), 1);
  for (const char* name : {"LOCALAPPDATA", "XDG_STATE_HOME"})
    setenv(name, local.c_str(), 1);
}

std::unique_ptr<UnreadableFiles> MakeUnreadable(const std::vector<std::filesystem::path>& files,
                                                std::chrono::milliseconds duration) {
  return std::make_unique<RefusedReads>(files, duration);
}

bool HoldWithoutSharing(const std::vector<std::filesystem::path>&, const std::filesystem::path&,
                        std::chrono::milliseconds) {
  return false;
}

}  // namespace Sorvane::test
