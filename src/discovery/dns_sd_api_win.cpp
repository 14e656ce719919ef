#include "discovery/dns_sd_api_win.h"

namespace Sorvane {
namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* out, std::string* missing) {
  *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*out == nullptr && missing != nullptr && missing->empty())
    *missing = name;
  return *out != nullptr;
}

}  // namespace

std::optional<DnsSdApi> LoadDnsSdApi(std::string* missing) {
  if (missing != nullptr)
    missing->clear();
  // dnsapi.dll is a system library that stays loaded for the process's life once loaded.
  HMODULE module = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    if (missing != nullptr)
      *missing = "dnsapi.dll";
    return std::nullopt;
  }
  DnsSdApi api;
  bool ok = Resolve(module, "DnsServiceConstructInstance", &api.constructInstance, missing);
  ok &= Resolve(module, "DnsServiceRegister", &api.registerService, missing);
  ok &= Resolve(module, "DnsServiceDeRegister", &api.deregisterService, missing);
  ok &= Resolve(module, "DnsServiceRegisterCancel", &api.registerCancel, missing);
  ok &= Resolve(module, "DnsServiceBrowse", &api.browse, missing);
  ok &= Resolve(module, "DnsServiceBrowseCancel", &api.browseCancel, missing);
  ok &= Resolve(module, "DnsServiceFreeInstance", &api.freeInstance, missing);
  ok &= Resolve(module, "DnsFree", &api.free, missing);
  if (!ok)
    return std::nullopt;
  return api;
}

}  // namespace Sorvane
