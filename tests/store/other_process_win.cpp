#include <windows.h>

#include <cstdlib>

#include "store/other_process.h"
#include "support/known_folders.h"

namespace Sorvane::test {
namespace {

std::wstring Widen(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The arguments here (modes, numbers, folder paths) hold no quote and end in no backslash.
std::wstring Quoted(const std::wstring& arg) {
  return L"\"" + arg + L"\"";
}

class WindowsProcess : public OtherProcess {
 public:
  explicit WindowsProcess(HANDLE process) : process_(process) {}
  ~WindowsProcess() override {
    if (process_ == nullptr)
      return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
    CloseHandle(process_);
  }

  int Wait(std::chrono::milliseconds timeout) override {
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
      return -1;  // killed by the destructor
    DWORD code = 1;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(code);
  }

 private:
  HANDLE process_;
};

class HeldFiles : public UnreadableFiles {
 public:
  explicit HeldFiles(std::unique_ptr<OtherProcess> holder) : holder_(std::move(holder)) {}
  ~HeldFiles() override { holder_->Wait(std::chrono::seconds(60)); }

 private:
  std::unique_ptr<OtherProcess> holder_;
};

}  // namespace

std::filesystem::path WorkerProgram() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(self).parent_path() / L"sv_state_worker.exe";
}

std::unique_ptr<OtherProcess> OtherProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args) {
  std::wstring commandLine = Quoted(program.wstring());
  for (const std::string& arg : args)
    commandLine += L" " + Quoted(Widen(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &started))
    return nullptr;
  CloseHandle(started.hThread);
  return std::make_unique<WindowsProcess>(started.hProcess);
}

// Wine rewrites APPDATA and LOCALAPPDATA when it starts a program: they are set here, and the
// shell's known folders follow them.
void UseProfile(const std::filesystem::path& root) {
  _wputenv_s(L"APPDATA", (root / L"roaming").c_str());
  _wputenv_s(L"LOCALAPPDATA", (root / L"local").c_str());
  RedirectKnownFoldersOfThisProgram();
}

std::unique_ptr<UnreadableFiles> MakeUnreadable(const std::vector<std::filesystem::path>& files,
                                                std::chrono::milliseconds duration) {
  const std::filesystem::path ready = std::filesystem::temp_directory_path() /
                                      (L"sv-held-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(GetTickCount64()));
  std::vector<std::string> args{"hold", std::to_string(duration.count()), ready.string()};
  for (const std::filesystem::path& file : files)
    args.push_back(file.string());
  std::unique_ptr<OtherProcess> holder = OtherProcess::Start(WorkerProgram(), args);
  if (!holder || !WaitForFile(ready, std::chrono::seconds(60)))
    return nullptr;
  std::error_code ec;
  std::filesystem::remove(ready, ec);
  return std::make_unique<HeldFiles>(std::move(holder));
}

bool HoldWithoutSharing(const std::vector<std::filesystem::path>& files,
                        const std::filesystem::path& ready, std::chrono::milliseconds duration) {
  std::vector<HANDLE> held;
  for (const std::filesystem::path& file : files) {
    held.push_back(CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (held.back() == INVALID_HANDLE_VALUE)
      return false;  // the process ends at once, closing the others
  }
  Signal(ready);
  Sleep(static_cast<DWORD>(duration.count()));
  for (const HANDLE handle : held)
    CloseHandle(handle);
  return true;
}

}  // namespace Sorvane::test
