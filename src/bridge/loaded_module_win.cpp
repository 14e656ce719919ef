#include <windows.h>

#include <string>

#include "bridge/loaded_module.h"

namespace Sorvane {

void* FindLoadedModuleExport(const char* fileName, const char* symbol) {
  std::wstring wide;
  for (const char* c = fileName; *c != '\0'; ++c)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  HMODULE module = nullptr;
  // Pinned: the peer's functions stay callable even if the host unloads that plug-in.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, wide.c_str(), &module) ||
      module == nullptr)
    return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, symbol));
}

bool PinThisModule() {
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExW(
               GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
               reinterpret_cast<LPCWSTR>(&PinThisModule), &self) != FALSE;
  }();
  return pinned;
}

}  // namespace Sorvane
