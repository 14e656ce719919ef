#include <windows.h>

#include <string>

#include "support/known_folders.h"
#include "sv-host/module_loader.h"

namespace Sorvane::hostsim {
namespace {

class WindowsModule final : public LoadedModule {
 public:
  explicit WindowsModule(HMODULE module) : module_(module) {}
  ~WindowsModule() override {
    if (!KeepsMapped())
      FreeLibrary(module_);
  }
  void* Symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

std::wstring Widen(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1)
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
  return wide;
}

// A Unix path (as CMake writes it when cross-building) is reached through Wine's Z: drive.
std::wstring ToWindowsPath(const std::string& path) {
  std::string p = path;
  if (!p.empty() && p[0] == '/')
    p = "Z:" + p;
  for (char& c : p) {
    if (c == '/')
      c = '\\';
  }
  return Widen(p);
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryW(ToWindowsPath(path).c_str());
  if (module == nullptr) {
    if (error)
      *error = "LoadLibraryW failed, error " + std::to_string(GetLastError());
    return nullptr;
  }
  // The module's state, logs and dumps follow this process's APPDATA and LOCALAPPDATA.
  test::RedirectKnownFoldersOf(module);
  return std::make_unique<WindowsModule>(module);
}

}  // namespace Sorvane::hostsim
