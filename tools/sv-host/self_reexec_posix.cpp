#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "sv-host/self_reexec.h"

namespace Sorvane::hostsim {

std::optional<int> RerunAs(const std::string& executableName, const std::vector<std::string>& args,
                           std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path dir = fs::temp_directory_path(ec) / ("sv-host-" + std::to_string(getpid()));
  fs::create_directories(dir, ec);
  const fs::path copy = dir / executableName;
  fs::copy_file(self, copy, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    if (error)
      *error = "cannot copy " + self.string() + " to " + copy.string() + ": " + ec.message();
    return std::nullopt;
  }
  std::vector<char*> argv;
  std::string program = copy.string();
  argv.push_back(program.data());
  std::vector<std::string> owned = args;
  for (auto& a : owned)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  const bool waited = child > 0 && waitpid(child, &status, 0) == child;
  fs::remove_all(dir, ec);
  if (!waited) {
    if (error)
      *error = "cannot start " + program;
    return std::nullopt;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace Sorvane::hostsim
