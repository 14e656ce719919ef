#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Sorvane::receiver {

// One _sorvane._tcp service as a browse resolved it.
struct DiscoveredService {
  std::string instance;  // the instance label
  std::string host;      // the target host name
  std::string address;   // IPv4, dotted
  uint16_t port = 0;
  std::map<std::string, std::string> txt;
};

// The service to connect to: the first one, or the first whose instance name or TXT "name" is
// `name`; null when none fits.
const DiscoveredService* ChooseService(const std::vector<DiscoveredService>& services,
                                       const std::string& name);

// One line for the terminal: instance, host, address, port and the TXT id, name and transmit.
std::string DescribeService(const DiscoveredService& service);

}  // namespace Sorvane::receiver
