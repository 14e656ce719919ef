#pragma once
#include <string>

#include "base/host_kind.h"

namespace Sorvane {

// This installation's stable identity: a UUID made once and a display name the user may change.
struct InstallIdentity {
  std::string id;
  std::string name;
  bool operator==(const InstallIdentity&) const = default;
};

// The identity as the current host presents it on the network: the id qualified by the host's
// suffix, the name followed by " — " and the host's label.
InstallIdentity AdvertisedIdentity(const InstallIdentity& identity);
InstallIdentity AdvertisedIdentityFor(const InstallIdentity& identity, HostKind kind);

// install.json in the app-support folder, shared by all hosts: the identity and two preferences.
// Every call reads the file under a process-wide lock; changes are written atomically.
namespace installid {

InstallIdentity LoadOrCreate();
void SetName(const std::string& name);
bool Discoverable();  // default true: anything but exactly "false" counts as true
void SetDiscoverable(bool discoverable);
bool EnableAsyncHwEncoders();  // default false: anything but exactly "true" counts as false
void SetEnableAsyncHwEncoders(bool enable);

// The file's canonical one-line form.
std::string Compose(const InstallIdentity& identity, bool discoverable, bool asyncHwEncoders);

}  // namespace installid
}  // namespace Sorvane
