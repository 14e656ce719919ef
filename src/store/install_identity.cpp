#include "store/install_identity.h"

#include <mutex>
#include <optional>

#include "diag/log_channels.h"
#include "store/app_paths.h"
#include "store/json_text.h"
#include "store/state_file.h"

namespace Sorvane {

InstallIdentity AdvertisedIdentityFor(const InstallIdentity& identity, HostKind kind) {
  const std::string suffix = HostFileSuffix(kind);
  InstallIdentity advertised;
  advertised.id = suffix.empty() ? identity.id : identity.id + "-" + suffix;
  advertised.name = identity.name + " \xE2\x80\x94 " + HostDisplayName(kind);
  return advertised;
}

InstallIdentity AdvertisedIdentity(const InstallIdentity& identity) {
  return AdvertisedIdentityFor(identity, DetectHost());
}

namespace installid {
namespace {

std::mutex& IdentityLock() {
  static std::mutex lock;
  return lock;
}

std::filesystem::path FilePath() {
  return AppSupportDir() / "install.json";
}

const statefile::WriteMessages kWriteMessages{
    "write identity: open(%{public}s) failed", "write identity: write failed",
    "write identity: rename(%{public}s -> %{public}s) failed: %{public}s"};

struct Preferences {
  bool discoverable = true;
  bool async = false;
};

Preferences ReadPreferences(const JsonStringMembers& members) {
  Preferences prefs;
  const auto discoverable = members.find("discoverable");
  prefs.discoverable = discoverable == members.end() || discoverable->second != "false";
  const auto async = members.find("enableAsyncHwEncoders");
  prefs.async = async != members.end() && async->second == "true";
  return prefs;
}

bool Write(const InstallIdentity& identity, const Preferences& prefs) {
  EnsureAppSupportDir();
  return statefile::WriteAtomically(FilePath(), Compose(identity, prefs.discoverable, prefs.async),
                                    channels::kInstallId, kWriteMessages);
}

const statefile::WriteMessages kSetAsideMessages{
    "set aside identity: open(%{public}s) failed", "set aside identity: write failed",
    "set aside identity: rename(%{public}s -> %{public}s) failed: %{public}s"};

constexpr const char* kMemberKeys[] = {"id", "name", "discoverable", "enableAsyncHwEncoders"};

// A hand edit with one slip must not cost this computer its id (every paired phone would lose
// it): the damaged text is kept beside the file, the members are recovered by the lenient key
// scan and written back in the canonical form, so the repair happens once.
JsonStringMembers RecoverDamaged(const std::string& text) {
  std::filesystem::path aside = FilePath();
  aside += ".bad";
  statefile::WriteAtomically(aside, text, channels::kInstallId, kSetAsideMessages);
  Log(channels::kInstallId, kLogError,
      "install.json cannot be parsed; its text is kept as %{public}s", aside.string().c_str());
  JsonStringMembers members;
  for (const char* key : kMemberKeys)
    members[key] = JsonFindString(text, key);
  const InstallIdentity identity{members["id"], members["name"]};
  Log(channels::kInstallId, kLogInfo,
      "install identity recovered from the damaged file: id=%{public}s",
      identity.id.empty() ? "(none)" : identity.id.c_str());
  Write(identity, ReadPreferences(members));
  return members;
}

// The stored members (empty when there is no file).
JsonStringMembers ReadMembers() {
  const std::optional<std::string> text = statefile::ReadText(FilePath());
  if (!text)
    return {};
  std::vector<JsonStringMembers> objects = ReadJsonObjects(*text);
  if (objects.empty())
    return RecoverDamaged(*text);
  return std::move(objects.front());
}

std::optional<InstallIdentity> Load() {
  JsonStringMembers members = ReadMembers();
  InstallIdentity identity{members["id"], members["name"]};
  if (identity.id.empty())
    return std::nullopt;
  return identity;
}

// Writes an identity, keeping the stored preferences.
bool Save(const InstallIdentity& identity) {
  return Write(identity, ReadPreferences(ReadMembers()));
}

void StorePreference(bool discoverableSetting, bool value) {
  std::lock_guard<std::mutex> lock(IdentityLock());
  const InstallIdentity identity =
      Load().value_or(InstallIdentity{NewInstallId(), DefaultDisplayName()});
  Preferences prefs = ReadPreferences(ReadMembers());
  (discoverableSetting ? prefs.discoverable : prefs.async) = value;
  Write(identity, prefs);
  Log(channels::kInstallId, kLogInfo,
      discoverableSetting ? "discoverable=%{public}s" : "enableAsyncHwEncoders=%{public}s",
      value ? "true" : "false");
}

}  // namespace

std::string Compose(const InstallIdentity& identity, bool discoverable, bool asyncHwEncoders) {
  return "{\"id\":\"" + JsonEscape(identity.id) + "\",\"name\":\"" + JsonEscape(identity.name) +
         "\",\"discoverable\":\"" + (discoverable ? "true" : "false") +
         "\",\"enableAsyncHwEncoders\":\"" + (asyncHwEncoders ? "true" : "false") + "\"}\n";
}

InstallIdentity LoadOrCreate() {
  std::lock_guard<std::mutex> lock(IdentityLock());
  if (std::optional<InstallIdentity> stored = Load()) {
    if (stored->name.empty()) {
      stored->name = DefaultDisplayName();
      Save(*stored);
    }
    return *stored;
  }
  const InstallIdentity created{NewInstallId(), DefaultDisplayName()};
  Save(created);
  Log(channels::kInstallId, kLogInfo, "install identity created id=%{public}s name=%{public}s",
      created.id.c_str(), created.name.c_str());
  return created;
}

void SetName(const std::string& name) {
  std::lock_guard<std::mutex> lock(IdentityLock());
  std::optional<InstallIdentity> stored = Load();
  if (!stored)
    return;
  stored->name = name;
  Save(*stored);
}

bool Discoverable() {
  std::lock_guard<std::mutex> lock(IdentityLock());
  return ReadPreferences(ReadMembers()).discoverable;
}

bool EnableAsyncHwEncoders() {
  std::lock_guard<std::mutex> lock(IdentityLock());
  return ReadPreferences(ReadMembers()).async;
}

void SetDiscoverable(bool discoverable) {
  StorePreference(true, discoverable);
}
void SetEnableAsyncHwEncoders(bool enable) {
  StorePreference(false, enable);
}

}  // namespace installid
}  // namespace Sorvane
