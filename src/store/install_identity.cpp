#include "store/install_identity.h"

#include <atomic>
#include <mutex>
#include <optional>

#include "diag/log_channels.h"
#include "diag/log_text.h"
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

// The process-wide lock and the file's lock, for one whole operation on install.json.
struct FileLock : statefile::UpdateLock {
  FileLock() : statefile::UpdateLock(IdentityLock(), FilePath(), channels::kInstallId) {}
};

const statefile::WriteMessages kWriteMessages{
    "write identity: open(%{public}s) failed", "write identity: write failed",
    "write identity: rename(%{public}s -> %{public}s) failed: %{public}s"};

struct Preferences {
  bool discoverable = true;
  bool async = false;
};

// What install.json holds: its members (none when there is no file), unless it cannot be read.
struct Stored {
  bool readable = true;
  JsonStringMembers members;
};

Preferences ReadPreferences(const JsonStringMembers& members) {
  Preferences prefs;
  const auto discoverable = members.find("discoverable");
  prefs.discoverable = discoverable == members.end() || discoverable->second != "false";
  const auto async = members.find("enableAsyncHwEncoders");
  prefs.async = async != members.end() && async->second == "true";
  return prefs;
}

bool Write(const FileLock& lock, const InstallIdentity& identity, const Preferences& prefs) {
  return statefile::WriteAtomically(lock, FilePath(),
                                    Compose(identity, prefs.discoverable, prefs.async),
                                    channels::kInstallId, kWriteMessages);
}

const statefile::WriteMessages kSetAsideMessages{
    "set aside identity: open(%{public}s) failed", "set aside identity: write failed",
    "set aside identity: rename(%{public}s -> %{public}s) failed: %{public}s"};

constexpr const char* kMemberKeys[] = {"id", "name", "discoverable", "enableAsyncHwEncoders"};

// A hand edit with one slip must not cost this computer its id (every paired phone would lose
// it): the damaged text is kept beside the file, the members are recovered by the lenient key
// scan and written back in the canonical form, so the repair happens once.
JsonStringMembers RecoverDamaged(const FileLock& lock, const std::string& text) {
  std::filesystem::path aside = FilePath();
  aside += ".bad";
  statefile::WriteAtomically(lock, aside, text, channels::kInstallId, kSetAsideMessages);
  Log(channels::kInstallId, kLogError,
      "install.json cannot be parsed; its text is kept as %{public}s", PathForLog(aside).c_str());
  JsonStringMembers members;
  for (const char* key : kMemberKeys)
    members[key] = JsonFindString(text, key);
  const InstallIdentity identity{members["id"], members["name"]};
  Log(channels::kInstallId, kLogInfo,
      "install identity recovered from the damaged file: id=%{public}s",
      identity.id.empty() ? "(none)" : LogSafeText(identity.id).c_str());
  Write(lock, identity, ReadPreferences(members));
  return members;
}

Stored Read(const FileLock& lock) {
  const statefile::ReadResult read = statefile::ReadPatiently(FilePath(), channels::kInstallId);
  if (read.status == statefile::ReadStatus::Unreadable)
    return Stored{false, {}};
  if (read.status == statefile::ReadStatus::Absent)
    return Stored{};
  std::vector<JsonStringMembers> objects = ReadJsonObjects(read.text);
  if (objects.empty())
    return Stored{true, RecoverDamaged(lock, read.text)};
  return Stored{true, std::move(objects.front())};
}

std::optional<InstallIdentity> IdentityIn(const Stored& stored) {
  const auto id = stored.members.find("id");
  if (id == stored.members.end() || id->second.empty())
    return std::nullopt;
  const auto name = stored.members.find("name");
  return InstallIdentity{id->second, name == stored.members.end() ? "" : name->second};
}

// Said once per process, so every host's log tells which identity it advertises.
void AnnounceOnce(const InstallIdentity& identity, bool created) {
  static std::atomic<bool> announced{false};
  if (announced.exchange(true) && !created)
    return;
  Log(channels::kInstallId, kLogInfo,
      created ? "install identity created id=%{public}s name=%{public}s"
              : "install identity id=%{public}s name=%{public}s",
      LogSafeText(identity.id).c_str(), LogSafeText(identity.name).c_str());
}

void StorePreference(bool discoverableSetting, bool value) {
  EnsureAppSupportDir();
  const FileLock lock;
  const Stored stored = Read(lock);
  if (stored.readable) {
    const InstallIdentity identity =
        IdentityIn(stored).value_or(InstallIdentity{NewInstallId(), DefaultDisplayName()});
    Preferences prefs = ReadPreferences(stored.members);
    (discoverableSetting ? prefs.discoverable : prefs.async) = value;
    Write(lock, identity, prefs);
  }
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
  EnsureAppSupportDir();
  const FileLock lock;
  const Stored stored = Read(lock);
  if (!stored.readable) {
    // Inventing an id now would replace the one every paired phone knows.
    Log(channels::kInstallId, kLogError,
        "install identity unavailable — no id until it can be read");
    return InstallIdentity{"", DefaultDisplayName()};
  }
  if (std::optional<InstallIdentity> identity = IdentityIn(stored)) {
    if (identity->name.empty()) {
      identity->name = DefaultDisplayName();
      Write(lock, *identity, ReadPreferences(stored.members));
    }
    AnnounceOnce(*identity, false);
    return *identity;
  }
  // A file without an id keeps its preferences.
  const InstallIdentity created{NewInstallId(), DefaultDisplayName()};
  Write(lock, created, ReadPreferences(stored.members));
  AnnounceOnce(created, true);
  return created;
}

void SetName(const std::string& name) {
  EnsureAppSupportDir();
  const FileLock lock;
  const Stored stored = Read(lock);
  std::optional<InstallIdentity> identity = IdentityIn(stored);
  if (!identity)
    return;
  identity->name = name;
  Write(lock, *identity, ReadPreferences(stored.members));
}

bool Discoverable() {
  const FileLock lock;
  return ReadPreferences(Read(lock).members).discoverable;
}

bool EnableAsyncHwEncoders() {
  const FileLock lock;
  return ReadPreferences(Read(lock).members).async;
}

void SetDiscoverable(bool discoverable) {
  StorePreference(true, discoverable);
}
void SetEnableAsyncHwEncoders(bool enable) {
  StorePreference(false, enable);
}

}  // namespace installid
}  // namespace Sorvane
