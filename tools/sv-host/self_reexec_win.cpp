#include <windows.h>

#include <filesystem>

#include "sv-host/self_reexec.h"

namespace Sorvane::hostsim {
namespace {

std::wstring Widen(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1)
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
  return wide;
}

std::wstring Quote(const std::wstring& arg) {
  return L"\"" + arg + L"\"";
}

}  // namespace

std::optional<int> RerunAs(const std::string& executableName, const std::vector<std::string>& args,
                           std::string* error) {
  namespace fs = std::filesystem;
  wchar_t selfPath[MAX_PATH];
  GetModuleFileNameW(nullptr, selfPath, MAX_PATH);
  std::error_code ec;
  const fs::path dir =
      fs::temp_directory_path(ec) / (L"sv-host-" + std::to_wstring(GetCurrentProcessId()));
  fs::create_directories(dir, ec);
  const fs::path copy = dir / Widen(executableName);
  if (!CopyFileW(selfPath, copy.c_str(), FALSE)) {
    if (error)
      *error = "cannot copy the simulator to " + copy.string();
    return std::nullopt;
  }
  std::wstring commandLine = Quote(copy.wstring());
  for (const auto& a : args)
    commandLine += L" " + Quote(Widen(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    if (error)
      *error = "CreateProcessW failed, error " + std::to_string(GetLastError());
    return std::nullopt;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  fs::remove_all(dir, ec);
  return static_cast<int>(code);
}

}  // namespace Sorvane::hostsim
