#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "ui/setup_status_text.h"

namespace Sorvane {

std::vector<NetworkInterfaceEntry> EnumerateIPv4Interfaces() {
  std::vector<NetworkInterfaceEntry> entries;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return entries;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET)
      continue;
    if ((it->ifa_flags & IFF_LOOPBACK) || !(it->ifa_flags & IFF_UP))
      continue;
    char address[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, address, sizeof address) == nullptr)
      continue;
    entries.push_back({it->ifa_name ? it->ifa_name : "?", address});
  }
  freeifaddrs(list);
  return entries;
}

}  // namespace Sorvane
