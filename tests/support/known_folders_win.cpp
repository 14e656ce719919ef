#include <windows.h>
// after windows.h
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

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

// The module's import slot for shell32's SHGetKnownFolderPath, or null.
ULONG_PTR* FindImportSlot(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE)
    return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0)
    return nullptr;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    if (_stricmp(reinterpret_cast<const char*>(base + library->Name), "shell32.dll") != 0)
      continue;
    const DWORD namesAt = library->OriginalFirstThunk ? library->OriginalFirstThunk
                                                      : library->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "SHGetKnownFolderPath") == 0)
        return &slots->u1.Function;
    }
  }
  return nullptr;
}

}  // namespace

bool RedirectKnownFoldersOf(void* module) {
  ULONG_PTR* slot = FindImportSlot(static_cast<HMODULE>(module));
  if (slot == nullptr)
    return false;
  RealLookup();
  DWORD previous = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous))
    return false;
  *slot = reinterpret_cast<ULONG_PTR>(&RedirectedLookup);
  VirtualProtect(slot, sizeof *slot, previous, &previous);
  return true;
}

void RedirectKnownFoldersOfThisProgram() {
  RedirectKnownFoldersOf(GetModuleHandleW(nullptr));
}

}  // namespace Sorvane::test
