#include "sv-receiver/app/discovered_service.h"

namespace Sorvane::receiver {
namespace {

std::string TxtValue(const DiscoveredService& service, const std::string& key) {
  const auto it = service.txt.find(key);
  return it == service.txt.end() ? "-" : it->second;
}

}  // namespace

const DiscoveredService* ChooseService(const std::vector<DiscoveredService>& services,
                                       const std::string& name) {
  for (const DiscoveredService& service : services) {
    const auto txtName = service.txt.find("name");
    if (name.empty() || service.instance == name ||
        (txtName != service.txt.end() && txtName->second == name)) {
      return &service;
    }
  }
  return nullptr;
}

std::string DescribeService(const DiscoveredService& service) {
  return "\"" + service.instance + "\" host=" + service.host + " address=" + service.address + ":" +
         std::to_string(service.port) + " id=" + TxtValue(service, "id") + " name=\"" +
         TxtValue(service, "name") + "\" transmit=" + TxtValue(service, "transmit");
}

}  // namespace Sorvane::receiver
