#include "sv-receiver/app/service_browser.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>

#include <chrono>
#include <iostream>

namespace Sorvane::receiver {
namespace {

constexpr double kBrowseSeconds = 5;

struct BrowseRun {
  AvahiClient* client = nullptr;
  bool allForNow = false;
  int resolving = 0;
  std::vector<DiscoveredService> found;
  std::string error;
};

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                AvahiResolverEvent event, const char* name, const char*, const char*,
                const char* hostName, const AvahiAddress* address, uint16_t port,
                AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
  auto* run = static_cast<BrowseRun*>(userdata);
  if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    avahi_address_snprint(text, sizeof text, address);
    bool known = false;
    for (const DiscoveredService& s : run->found)
      known = known || (s.instance == name && s.port == port);
    if (!known)
      run->found.push_back({name, hostName ? hostName : "", text, port, TxtMap(txt)});
  }
  avahi_service_resolver_free(resolver);
  --run->resolving;
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* userdata) {
  auto* run = static_cast<BrowseRun*>(userdata);
  if (event == AVAHI_BROWSER_NEW) {
    // IPv4 addresses only: the plug-in listens on IPv4.
    if (avahi_service_resolver_new(run->client, interface, protocol, name, type, domain,
                                   AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0), OnResolved,
                                   run) != nullptr) {
      ++run->resolving;
    }
  } else if (event == AVAHI_BROWSER_ALL_FOR_NOW) {
    run->allForNow = true;
  } else if (event == AVAHI_BROWSER_FAILURE) {
    run->error = std::string("browse failed: ") + avahi_strerror(avahi_client_errno(run->client));
  }
}

}  // namespace

std::map<std::string, std::string> TxtMap(AvahiStringList* txt) {
  std::map<std::string, std::string> out;
  for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
    char* key = nullptr;
    char* value = nullptr;
    size_t size = 0;
    if (avahi_string_list_get_pair(item, &key, &value, &size) == 0) {
      out[key] = value ? std::string(value, size) : std::string();
      avahi_free(key);
      avahi_free(value);
    }
  }
  return out;
}

std::vector<DiscoveredService> BrowseServices(double seconds, std::string* error) {
  BrowseRun run;
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  int code = 0;
  run.client = avahi_client_new(avahi_simple_poll_get(poll), static_cast<AvahiClientFlags>(0),
                                nullptr, nullptr, &code);
  if (run.client == nullptr) {
    if (error)
      *error = std::string("avahi-daemon not reachable: ") + avahi_strerror(code);
    avahi_simple_poll_free(poll);
    return {};
  }
  AvahiServiceBrowser* browser =
      avahi_service_browser_new(run.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_sorvane._tcp",
                                nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &run);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (browser != nullptr && run.error.empty() && std::chrono::steady_clock::now() < end &&
         !(run.allForNow && run.resolving == 0)) {
    if (avahi_simple_poll_iterate(poll, 50) != 0)
      break;
  }
  if (browser == nullptr)
    run.error = std::string("browse failed: ") + avahi_strerror(avahi_client_errno(run.client));
  if (error)
    *error = run.error;
  avahi_client_free(run.client);  // frees the browser and any resolver still running
  avahi_simple_poll_free(poll);
  return run.found;
}

int ListServices() {
  std::string error;
  const std::vector<DiscoveredService> services = BrowseServices(kBrowseSeconds, &error);
  for (const DiscoveredService& service : services)
    std::cout << "found: " << DescribeService(service) << "\n";
  if (!error.empty())
    std::cerr << "sv-receiver: " << error << "\n";
  std::cout << "sv-receiver: " << services.size() << " service(s) found\n";
  return services.empty() ? 1 : 0;
}

bool DiscoverTarget(ReceiverOptions& options) {
  std::string error;
  const std::vector<DiscoveredService> services = BrowseServices(kBrowseSeconds, &error);
  for (const DiscoveredService& service : services)
    std::cout << "found: " << DescribeService(service) << "\n";
  const DiscoveredService* chosen = ChooseService(services, options.discoverName);
  if (chosen == nullptr) {
    std::cerr << "sv-receiver: no _sorvane._tcp service"
              << (options.discoverName.empty() ? "" : " named \"" + options.discoverName + "\"")
              << " found" << (error.empty() ? "" : " (" + error + ")") << "\n";
    return false;
  }
  const bool defaultTokenFile = options.tokenFile == DefaultTokenFile(options.port);
  options.host = chosen->address;
  options.port = chosen->port;
  if (defaultTokenFile)
    options.tokenFile = DefaultTokenFile(options.port);
  std::cout << "sv-receiver: discovered " << DescribeService(*chosen) << "\n";
  return true;
}

}  // namespace Sorvane::receiver
