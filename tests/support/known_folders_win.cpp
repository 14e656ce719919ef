#include <windows.h>
// after windows.h
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "support/import_hook_win.h"
#include "support/known_folders.h"

namespace Sorvane::test {
namespace {

using KnownFolderLookup = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

KnownFolderLookup RealLookup() {
  static const auto real = reinterpret_cast<KnownFolderLookup>(
      GetProcAddress(LoadLibraryW(L"shell32.dll"), "SHGetKnownFolderPath"));
  return real;
}

HRESULT CopyFromEnvironment(const wchar_t* variable, PWSTR* out) {
  const wchar_t* value = _wgetenv(variable);
  if (value == nullptr || *value == L'\0')
    return E_FAIL;
  const size_t bytes = (std::wcslen(value) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
  if (copy == nullptr)
    return E_OUTOFMEMORY;
  std::memcpy(copy, value, bytes);
  *out = copy;
  return S_OK;
}

HRESULT WINAPI RedirectedLookup(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* out) {
  if (out != nullptr && IsEqualGUID(id, FOLDERID_RoamingAppData))
    return CopyFromEnvironment(L"APPDATA", out);
  if (out != nullptr && IsEqualGUID(id, FOLDERID_LocalAppData))
    return CopyFromEnvironment(L"LOCALAPPDATA", out);
  const KnownFolderLookup real = RealLookup();
  return real != nullptr ? real(id, flags, token, out) : E_FAIL;
}

}  // namespace

bool RedirectKnownFoldersOf(void* module) {
  RealLookup();
  return HookImport(static_cast<HMODULE>(module), "shell32.dll", "SHGetKnownFolderPath",
                    reinterpret_cast<void*>(&RedirectedLookup)) != nullptr;
}

void RedirectKnownFoldersOfThisProgram() {
  RedirectKnownFoldersOf(GetModuleHandleW(nullptr));
}

}  // namespace Sorvane::test
