#include "sv-receiver/app/service_watch.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <chrono>
#include <ctime>
#include <iomanip>
#include <iostream>

#include "sv-receiver/app/service_browser.h"

namespace Sorvane::receiver {
namespace {

std::string TxtText(const std::map<std::string, std::string>& txt) {
  std::string out;
  for (const auto& [key, value] : txt) {
    const bool quote = value.empty() || value.find(' ') != std::string::npos;
    out += " " + key + "=" + (quote ? "\"" + value + "\"" : value);
  }
  return out;
}

std::string Line(const std::string& timestamp, const char* what, const std::string& name,
                 const std::string& detail = {}) {
  return timestamp + " " + what + " \"" + name + "\"" + detail;
}

// Local time to the millisecond, so changes a few hundred milliseconds apart tell apart.
std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
  return text;
}

struct WatchRun {
  AvahiClient* client = nullptr;
  ServiceChanges changes;
  std::string error;
};

void Print(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    std::cout << line << std::endl;  // at once: a user watches this live
}

std::string Place(AvahiIfIndex interface, AvahiProtocol protocol) {
  return std::to_string(interface) + "/" + std::to_string(protocol);
}

// Resolvers stay for the whole watch: Avahi reports a changed TXT record through them again.
void OnResolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char* name, const char*, const char*, const char*, const AvahiAddress*,
                uint16_t, AvahiStringList* txt, AvahiLookupResultFlags, void* userdata) {
  auto* run = static_cast<WatchRun*>(userdata);
  if (event == AVAHI_RESOLVER_FOUND && name != nullptr)
    Print(run->changes.Resolved(Now(), name, TxtMap(txt)));
}

// A watch that lost its daemon sees nothing more: it says so and ends rather than go on silently.
void OnClientState(AvahiClient* client, AvahiClientState state, void* userdata) {
  auto* run = static_cast<WatchRun*>(userdata);
  if (state == AVAHI_CLIENT_FAILURE)
    run->error = std::string("lost avahi-daemon: ") + avahi_strerror(avahi_client_errno(client));
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* userdata) {
  auto* run = static_cast<WatchRun*>(userdata);
  if (event == AVAHI_BROWSER_NEW) {
    Print(run->changes.Found(Now(), name, Place(interface, protocol)));
    avahi_service_resolver_new(run->client, interface, protocol, name, type, domain,
                               AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), OnResolved,
                               run);
  } else if (event == AVAHI_BROWSER_REMOVE) {
    Print(run->changes.Removed(Now(), name, Place(interface, protocol)));
  } else if (event == AVAHI_BROWSER_FAILURE) {
    run->error = std::string("browse failed: ") + avahi_strerror(avahi_client_errno(run->client));
  }
}

}  // namespace

std::vector<std::string> ServiceChanges::Found(const std::string&, const std::string& name,
                                               const std::string& where) {
  entries_[name].places.insert(where);
  return {};  // announced once resolved, with its TXT values
}

std::vector<std::string> ServiceChanges::Resolved(const std::string& timestamp,
                                                  const std::string& name,
                                                  const std::map<std::string, std::string>& txt) {
  const auto it = entries_.find(name);
  if (it == entries_.end() || it->second.places.empty())
    return {};  // a late answer about an entry already gone
  Entry& entry = it->second;
  if (entry.announced && entry.txt == txt)
    return {};
  const char* what = entry.announced ? "changed" : "appeared";
  ++(entry.announced ? counts_.changed : counts_.appeared);
  entry.announced = true;
  entry.txt = txt;
  return {Line(timestamp, what, name, TxtText(txt))};
}

std::vector<std::string> ServiceChanges::Removed(const std::string& timestamp,
                                                 const std::string& name,
                                                 const std::string& where) {
  const auto it = entries_.find(name);
  if (it == entries_.end() || it->second.places.erase(where) == 0 || !it->second.places.empty())
    return {};
  std::vector<std::string> lines;
  if (!it->second.announced) {
    // Gone before it could be resolved: still a flicker a phone may have seen.
    ++counts_.appeared;
    lines.push_back(Line(timestamp, "appeared", name, " (not resolved)"));
  }
  ++counts_.disappeared;
  lines.push_back(Line(timestamp, "disappeared", name));
  entries_.erase(it);
  return lines;
}

int WatchServices(double seconds) {
  WatchRun run;
  AvahiSimplePoll* poll = avahi_simple_poll_new();
  int code = 0;
  run.client = avahi_client_new(avahi_simple_poll_get(poll), static_cast<AvahiClientFlags>(0),
                                OnClientState, &run, &code);
  if (run.client == nullptr) {
    std::cerr << "sv-receiver: avahi-daemon not reachable: " << avahi_strerror(code) << "\n";
    avahi_simple_poll_free(poll);
    return 1;
  }
  AvahiServiceBrowser* browser =
      avahi_service_browser_new(run.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_sorvane._tcp",
                                nullptr, static_cast<AvahiLookupFlags>(0), OnBrowsed, &run);
  if (browser == nullptr)
    run.error = std::string("browse failed: ") + avahi_strerror(avahi_client_errno(run.client));
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (run.error.empty() && std::chrono::steady_clock::now() < end) {
    if (avahi_simple_poll_iterate(poll, 100) != 0)
      break;
  }
  avahi_client_free(run.client);  // frees the browser and the resolvers
  avahi_simple_poll_free(poll);
  if (!run.error.empty())
    std::cerr << "sv-receiver: " << run.error << "\n";
  const ServiceChanges::Counts& counts = run.changes.counts();
  const double watched =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "sv-receiver: watched " << std::fixed << std::setprecision(1) << watched
            << " s: " << counts.appeared << " appeared, " << counts.disappeared << " disappeared, "
            << counts.changed << " changed\n";
  return run.error.empty() ? 0 : 1;
}

}  // namespace Sorvane::receiver
