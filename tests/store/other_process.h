#pragma once
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Other processes for the tests of files shared between processes: the worker program started
// from a test, the profile it joins, and a program holding files the way virus scanners do.
namespace Sorvane::test {

// Waits until `file` exists (another process's sign); false after `timeout`. Spinning instead of
// sleeping between looks starts processes waiting for one sign within microseconds of each other.
enum class Poll { Sleep, Spin };
bool WaitForFile(const std::filesystem::path& file, std::chrono::milliseconds timeout,
                 Poll poll = Poll::Sleep);

// Creates an empty `file`: a sign to another process.
void Signal(const std::filesystem::path& file);

// The worker program beside this test program.
std::filesystem::path WorkerProgram();

// A started program; killed if it still runs when this is destroyed.
class OtherProcess {
 public:
  // Null when the program cannot be started.
  static std::unique_ptr<OtherProcess> Start(const std::filesystem::path& program,
                                             const std::vector<std::string>& args);
  virtual ~OtherProcess() = default;
  // The exit code, or -1 when it has not ended within `timeout` (it is killed then).
  virtual int Wait(std::chrono::milliseconds timeout) = 0;
};

// Worker side: the roaming and local folders become ROOT/roaming and ROOT/local, for this program
// and its known-folder lookups, as the test main does for a test program.
void UseProfile(const std::filesystem::path& root);

// Test side: `files` cannot be read for `duration` from when this returns: held open without read
// sharing by another process on Windows; on POSIX, which has no share modes (and tests run as
// root), the store's read step fails for that long.
class UnreadableFiles {
 public:
  virtual ~UnreadableFiles() = default;
};
std::unique_ptr<UnreadableFiles> MakeUnreadable(const std::vector<std::filesystem::path>& files,
                                                std::chrono::milliseconds duration);

// Worker side of MakeUnreadable on Windows: opens `files` without sharing, creates `ready`, holds
// them for `duration`. False when a file cannot be opened so (or on POSIX).
bool HoldWithoutSharing(const std::vector<std::filesystem::path>& files,
                        const std::filesystem::path& ready, std::chrono::milliseconds duration);

}  // namespace Sorvane::test
