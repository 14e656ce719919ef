#include <windows.h>
// after windows.h
#include <bcrypt.h>
#include <knownfolders.h>
#include <rpc.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "store/app_paths.h"
#include "store/app_paths_win.h"

namespace Sorvane {
namespace {

const wchar_t* NonEmptyEnv(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return (value != nullptr && *value != L'\0') ? value : nullptr;
}

}  // namespace

std::filesystem::path RoamingAppDataDir() {
  PWSTR known = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known);
  if (SUCCEEDED(hr) && known != nullptr) {
    std::filesystem::path path(known);
    CoTaskMemFree(known);
    return path;
  }
  if (known != nullptr)
    CoTaskMemFree(known);
  return pathsdetail::RoamingDirFromEnvironment();
}

std::string DefaultDisplayName() {
  DWORD length = 0;
  GetComputerNameExW(ComputerNameDnsHostname, nullptr, &length);
  if (length == 0)
    return "PC";
  std::wstring wide(length, L'\0');
  if (!GetComputerNameExW(ComputerNameDnsHostname, wide.data(), &length))
    return "PC";
  std::string name = pathsdetail::Utf8FromWide(wide.data(), static_cast<int>(length));
  while (!name.empty() && name.back() == '\0')
    name.pop_back();
  return name.empty() ? std::string("PC") : name;
}

std::string NewInstallId() {
  UUID uuid{};
  const RPC_STATUS status = UuidCreate(&uuid);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
    return "00000000-0000-0000-0000-000000000000";
  }
  char text[37];
  std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned long>(uuid.Data1), uuid.Data2, uuid.Data3, uuid.Data4[0],
                uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5],
                uuid.Data4[6], uuid.Data4[7]);
  return text;
}

namespace pathsdetail {

std::filesystem::path RoamingDirFromEnvironment() {
  if (const wchar_t* appData = NonEmptyEnv(L"APPDATA"))
    return appData;
  if (const wchar_t* profile = NonEmptyEnv(L"USERPROFILE"))
    return std::filesystem::path(profile) / L"AppData" / L"Roaming";
  return L"C:\\";
}

std::string Utf8FromWide(const wchar_t* text, int length) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

bool FillRandom(void* out, size_t n) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(n),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

}  // namespace pathsdetail
}  // namespace Sorvane
