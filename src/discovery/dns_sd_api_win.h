#pragma once
#include <windows.h>
// windns.h needs the types of windows.h first.
#include <windns.h>

#include <optional>
#include <string>

namespace Sorvane {

// The DNSAPI service functions, looked up at run time: Windows builds before them, and Wine, lack
// them, and a static import would keep the whole plug-in from loading there. Tests fill the table
// with fakes.
struct DnsSdApi {
  decltype(&DnsServiceConstructInstance) constructInstance = nullptr;
  decltype(&DnsServiceRegister) registerService = nullptr;
  decltype(&DnsServiceDeRegister) deregisterService = nullptr;
  decltype(&DnsServiceRegisterCancel) registerCancel = nullptr;
  decltype(&DnsServiceBrowse) browse = nullptr;
  decltype(&DnsServiceBrowseCancel) browseCancel = nullptr;
  decltype(&DnsServiceFreeInstance) freeInstance = nullptr;
  decltype(&DnsFree) free = nullptr;
};

// Resolves every function from dnsapi.dll; on failure names the first one missing in `missing`.
std::optional<DnsSdApi> LoadDnsSdApi(std::string* missing);

}  // namespace Sorvane
