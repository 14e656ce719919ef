#include <windows.h>
// after windows.h
#include <knownfolders.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <optional>

#include "support/import_hook_win.h"
#include "support/known_folders.h"

namespace Sorvane::test {
namespace {

using KnownFolderLookup = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// What the import slots held before: the shell's own lookup.
std::atomic<KnownFolderLookup> gRealLookup{nullptr};

std::mutex gAnswerLock;
std::optional<std::wstring> gRoamingAnswer;  // GUARDED_BY(gAnswerLock)

HRESULT Copy(const wchar_t* value, PWSTR* out) {
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

HRESULT RoamingFolder(PWSTR* out) {
  {
    std::lock_guard<std::mutex> lock(gAnswerLock);
    if (gRoamingAnswer)
      return Copy(gRoamingAnswer->c_str(), out);
  }
  return Copy(_wgetenv(L"APPDATA"), out);
}

HRESULT WINAPI RedirectedLookup(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* out) {
  if (out != nullptr && IsEqualGUID(id, FOLDERID_RoamingAppData))
    return RoamingFolder(out);
  if (out != nullptr && IsEqualGUID(id, FOLDERID_LocalAppData))
    return Copy(_wgetenv(L"LOCALAPPDATA"), out);
  const KnownFolderLookup real = gRealLookup.load();
  return real != nullptr ? real(id, flags, token, out) : E_FAIL;
}

}  // namespace

bool RedirectKnownFoldersOf(void* module) {
  void* previous = HookImport(static_cast<HMODULE>(module), "shell32.dll", "SHGetKnownFolderPath",
                              reinterpret_cast<void*>(&RedirectedLookup));
  if (previous == nullptr)
    return false;
  if (previous != reinterpret_cast<void*>(&RedirectedLookup))
    gRealLookup = reinterpret_cast<KnownFolderLookup>(previous);
  return true;
}

void AnswerRoamingFolder(const std::wstring& answer) {
  std::lock_guard<std::mutex> lock(gAnswerLock);
  gRoamingAnswer = answer;
}

void ForgetRoamingFolderAnswer() {
  std::lock_guard<std::mutex> lock(gAnswerLock);
  gRoamingAnswer.reset();
}

void RedirectKnownFoldersOfThisProgram() {
  RedirectKnownFoldersOf(GetModuleHandleW(nullptr));
}

}  // namespace Sorvane::test
