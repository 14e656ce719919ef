#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2
#include <iphlpapi.h>

#include "ui/setup_status_text.h"
#include "ui/wide_text.h"

namespace Sorvane {
namespace {

constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

bool QueryAdapters(std::vector<unsigned char>& buffer) {
  ULONG length = static_cast<ULONG>(buffer.size());
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  ULONG result = GetAdaptersAddresses(AF_INET, kFlags, nullptr, first, &length);
  if (result == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(length);
    first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    result = GetAdaptersAddresses(AF_INET, kFlags, nullptr, first, &length);
  }
  return result == NO_ERROR;
}

}  // namespace

std::vector<NetworkInterfaceEntry> EnumerateIPv4Interfaces() {
  std::vector<NetworkInterfaceEntry> entries;
  std::vector<unsigned char> buffer(15360);
  if (!QueryAdapters(buffer))
    return entries;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK || adapter->OperStatus != IfOperStatusUp)
      continue;
    const std::string name =
        adapter->FriendlyName && adapter->FriendlyName[0] ? ToUtf8(adapter->FriendlyName) : "?";
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET)
        continue;
      char text[22] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(address);
      if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr)
        entries.push_back({name, text});
    }
  }
  return entries;
}

}  // namespace Sorvane
