#pragma once
#include <avahi-common/strlst.h>

#include <map>
#include <string>
#include <vector>

#include "sv-receiver/app/discovered_service.h"
#include "sv-receiver/app/receiver_options.h"

namespace Sorvane::receiver {

// A resolved service's TXT strings as keys and values.
std::map<std::string, std::string> TxtMap(AvahiStringList* txt);

// Browses _sorvane._tcp through the Avahi daemon for up to `seconds` and resolves every service
// to an IPv4 address. Ends early once the daemon has told all it knows and every resolution has
// finished. On failure `error` says why (no daemon, no bus).
std::vector<DiscoveredService> BrowseServices(double seconds, std::string* error);

// --list: prints what a browse finds; the exit code is 0 when it found something, else 1.
int ListServices();

// --discover[=NAME]: browses, prints what it found and points `options` at the chosen service
// (its address and port, and the token file that goes with the port unless one was given).
bool DiscoverTarget(ReceiverOptions& options);

}  // namespace Sorvane::receiver
