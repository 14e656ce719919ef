#include "discovery/avahi_service_advertiser.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include "diag/host_entry_guard.h"
#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {
namespace {

constexpr auto kRegisterWait = std::chrono::seconds(5);
constexpr int kMaxRenames = 12;

// Holds the threaded poll's lock, which every Avahi call from outside its thread needs.
class PollLock {
 public:
  explicit PollLock(AvahiThreadedPoll* poll) : poll_(poll) { avahi_threaded_poll_lock(poll_); }
  ~PollLock() { avahi_threaded_poll_unlock(poll_); }
  PollLock(const PollLock&) = delete;
  PollLock& operator=(const PollLock&) = delete;

 private:
  AvahiThreadedPoll* poll_;
};

AvahiStringList* TxtList(const AdvertisementRecord& record) {
  AvahiStringList* list = nullptr;
  // Avahi keeps the list reversed internally; adding in order gives this order on the wire.
  for (const auto& [key, value] : dnssd::TxtEntries(record))
    list = avahi_string_list_add_pair(list, key.c_str(), value.c_str());
  return list;
}

}  // namespace

AvahiServiceAdvertiser::AvahiServiceAdvertiser(const Options& options)
    : SelfHealingAdvertiser(options) {}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
  Stop();
  if (poll_ == nullptr)
    return;
  avahi_threaded_poll_stop(poll_);
  if (client_ != nullptr)
    avahi_client_free(client_);
  avahi_threaded_poll_free(poll_);
}

SelfHealingAdvertiser::Registration AvahiServiceAdvertiser::RegisterLocked(
    uint16_t port, const AdvertisementRecord& record) {
  if (labelSource_ != record.name || label_.empty()) {
    label_ = dnssd::InstanceLabel(record.name);
    labelSource_ = record.name;
  }
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    if (collided_)
      AdoptAlternativeName();
    collided_ = false;
  }
  // Names go to the self-heal in presentation form, as browse answers elsewhere spell them.
  Registration result;
  result.askedName = dnssd::EscapeLabel(label_);
  const Deadline deadline = std::chrono::steady_clock::now() + kRegisterWait;
  if (!EnsureClientLocked() || !WaitForRunningDaemon(deadline))
    return result;
  for (int attempt = 0; attempt <= kMaxRenames; ++attempt) {
    const int added = AddServiceLocked(port, record);
    if (added == AVAHI_ERR_COLLISION) {
      AdoptAlternativeName();
      continue;
    }
    if (added != AVAHI_OK) {
      LogFailure("Avahi could not add the service: %s", avahi_strerror(added));
      WithdrawLocked();
      return result;
    }
    switch (WaitForGroup(deadline)) {
      case GroupOutcome::kEstablished:
        result.ok = true;
        result.registeredName = dnssd::EscapeLabel(label_);
        return result;
      case GroupOutcome::kCollision:
        AdoptAlternativeName();
        continue;
      case GroupOutcome::kFailed:
        LogFailure("Avahi registration failed: %s", avahi_strerror(avahi_client_errno(client_)));
        break;
      case GroupOutcome::kTimedOut:
        LogFailure("Avahi registration timed out after 5s");
        break;
    }
    WithdrawLocked();  // a late success must not leave an entry that nothing withdraws
    return result;
  }
  LogFailure("Avahi registration gave up after %d name collisions", kMaxRenames);
  WithdrawLocked();
  return result;
}

bool AvahiServiceAdvertiser::EnsureClientLocked() {
  if (poll_ == nullptr) {
    poll_ = avahi_threaded_poll_new();
    if (poll_ == nullptr || avahi_threaded_poll_start(poll_) < 0) {
      LogFailure("Avahi poll thread could not be started");
      if (poll_ != nullptr)
        avahi_threaded_poll_free(poll_);
      poll_ = nullptr;
      return false;
    }
  }
  PollLock poll(poll_);
  bool failed = false;
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    failed = clientFailed_;
    clientFailed_ = false;
  }
  if (client_ != nullptr && failed) {
    // A failed client never recovers; its groups and browsers go with it.
    avahi_client_free(client_);
    client_ = nullptr;
    group_ = nullptr;
    browser_ = nullptr;
  }
  if (client_ != nullptr)
    return true;
  int error = 0;
  client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL, OnClientState,
                             this, &error);
  if (client_ == nullptr) {
    LogFailure("avahi-daemon not reachable (%s) — nothing advertised", avahi_strerror(error));
    return false;
  }
  return true;
}

bool AvahiServiceAdvertiser::WaitForRunningDaemon(Deadline deadline) {
  std::unique_lock<std::mutex> lock(stateLock_);
  for (;;) {
    if (clientState_ == AVAHI_CLIENT_S_RUNNING)
      return true;
    if (clientState_ == AVAHI_CLIENT_CONNECTING) {
      LogFailure("avahi-daemon is not running — nothing advertised");
      return false;
    }
    if (clientState_ == AVAHI_CLIENT_FAILURE || clientFailed_) {
      LogFailure("Avahi client failed — nothing advertised");
      return false;
    }
    // Registering or resolving a host-name collision: our entries must wait for it to end.
    if (stateChanged_.wait_until(lock, deadline) == std::cv_status::timeout &&
        clientState_ != AVAHI_CLIENT_S_RUNNING) {
      LogFailure("avahi-daemon did not become ready within 5s");
      return false;
    }
  }
}

int AvahiServiceAdvertiser::AddServiceLocked(uint16_t port, const AdvertisementRecord& record) {
  PollLock poll(poll_);
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(client_, OnGroupState, this);
    if (group_ == nullptr)
      return avahi_client_errno(client_);
  } else {
    avahi_entry_group_reset(group_);
  }
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    groupState_ = AVAHI_ENTRY_GROUP_UNCOMMITED;
  }
  AvahiStringList* txt = TxtList(record);
  int result = avahi_entry_group_add_service_strlst(
      group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
      label_.c_str(), dnssd::kServiceType, nullptr, nullptr, port, txt);
  avahi_string_list_free(txt);
  if (result == AVAHI_OK)
    result = avahi_entry_group_commit(group_);
  return result;
}

AvahiServiceAdvertiser::GroupOutcome AvahiServiceAdvertiser::WaitForGroup(Deadline deadline) {
  std::unique_lock<std::mutex> lock(stateLock_);
  const bool settled = stateChanged_.wait_until(lock, deadline, [this] {
    return groupState_ == AVAHI_ENTRY_GROUP_ESTABLISHED ||
           groupState_ == AVAHI_ENTRY_GROUP_COLLISION || groupState_ == AVAHI_ENTRY_GROUP_FAILURE;
  });
  if (!settled)
    return GroupOutcome::kTimedOut;
  if (groupState_ == AVAHI_ENTRY_GROUP_COLLISION) {
    collided_ = false;  // handled here, by the caller's rename
    return GroupOutcome::kCollision;
  }
  return groupState_ == AVAHI_ENTRY_GROUP_ESTABLISHED ? GroupOutcome::kEstablished
                                                      : GroupOutcome::kFailed;
}

void AvahiServiceAdvertiser::AdoptAlternativeName() {
  char* alternative = avahi_alternative_service_name(label_.c_str());
  if (alternative == nullptr)
    return;
  Log(channels::kMdns, kLogInfo, "Avahi name collision: '%{public}s' becomes '%{public}s'",
      label_.c_str(), alternative);
  label_ = alternative;
  avahi_free(alternative);
}

void AvahiServiceAdvertiser::WithdrawLocked() {
  if (poll_ == nullptr)
    return;
  PollLock poll(poll_);
  if (group_ != nullptr)
    avahi_entry_group_free(group_);
  group_ = nullptr;
}

bool AvahiServiceAdvertiser::BrowseLocked() {
  EndBrowseLocked();
  if (poll_ == nullptr)
    return false;
  PollLock poll(poll_);
  if (client_ == nullptr || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING)
    return false;  // the daemon is away: an empty round, which never counts
  browser_ =
      avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, dnssd::kServiceType,
                                nullptr, static_cast<AvahiLookupFlags>(0), OnBrowse, this);
  if (browser_ == nullptr)
    LogFailure("[bj] self-heal: Avahi browse failed: %s",
               avahi_strerror(avahi_client_errno(client_)));
  return browser_ != nullptr;
}

void AvahiServiceAdvertiser::EndBrowseLocked() {
  if (poll_ == nullptr)
    return;
  PollLock poll(poll_);
  if (browser_ != nullptr)
    avahi_service_browser_free(browser_);
  browser_ = nullptr;
}

bool AvahiServiceAdvertiser::UpdateTxtLocked(const AdvertisementRecord& record) {
  if (poll_ == nullptr)
    return false;
  PollLock poll(poll_);
  if (group_ == nullptr)
    return false;
  AvahiStringList* txt = TxtList(record);
  const int result = avahi_entry_group_update_service_txt_strlst(
      group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
      label_.c_str(), dnssd::kServiceType, nullptr, txt);
  avahi_string_list_free(txt);
  if (result != AVAHI_OK) {
    Log(channels::kMdns, kLogInfo, "Avahi could not change the TXT record: %s",
        avahi_strerror(result));
  }
  return result == AVAHI_OK;
}

void AvahiServiceAdvertiser::OnClientState(AvahiClient* client, AvahiClientState state,
                                           void* userdata) {
  static HostEntryGuard guard(channels::kMdns, "Avahi client callback");
  guard.Run(
      [&] { static_cast<AvahiServiceAdvertiser*>(userdata)->ClientStateChanged(client, state); });
}

void AvahiServiceAdvertiser::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                          void* userdata) {
  static HostEntryGuard guard(channels::kMdns, "Avahi entry callback");
  guard.Run(
      [&] { static_cast<AvahiServiceAdvertiser*>(userdata)->GroupStateChanged(group, state); });
}

void AvahiServiceAdvertiser::OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex, AvahiProtocol,
                                      AvahiBrowserEvent event, const char* name, const char*,
                                      const char*, AvahiLookupResultFlags, void* userdata) {
  static HostEntryGuard guard(channels::kMdns, "Avahi browse callback");
  guard.Run([&] { static_cast<AvahiServiceAdvertiser*>(userdata)->Browsed(browser, event, name); });
}

void AvahiServiceAdvertiser::ClientStateChanged(AvahiClient* client, AvahiClientState state) {
  bool daemonBack = false;
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    clientState_ = state;
    if (state == AVAHI_CLIENT_S_RUNNING) {
      daemonBack = daemonLost_;
      daemonLost_ = false;
    } else if (state == AVAHI_CLIENT_CONNECTING || state == AVAHI_CLIENT_FAILURE) {
      if (!daemonLost_)
        Log(channels::kMdns, kLogInfo, "avahi-daemon went away — waiting for it to return");
      daemonLost_ = true;
      clientFailed_ = state == AVAHI_CLIENT_FAILURE;
    }
  }
  stateChanged_.notify_all();
  if (state == AVAHI_CLIENT_FAILURE) {
    Log(channels::kMdns, kLogError, "Avahi client failed: %s",
        avahi_strerror(avahi_client_errno(client)));
  }
  // The daemon forgot our entry while it was away (or was never there when we started); a
  // failed client needs replacing.
  if (daemonBack) {
    Log(channels::kMdns, kLogInfo, "avahi-daemon is back — re-publishing");
    selfHeal().MarkLost(/*afresh=*/true);
  } else if (state == AVAHI_CLIENT_FAILURE) {
    selfHeal().MarkLost();
  }
}

void AvahiServiceAdvertiser::GroupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state) {
  if (group != group_)
    return;  // a group we are still creating or have let go
  bool lost = false;
  {
    std::lock_guard<std::mutex> lock(stateLock_);
    const bool wasEstablished = groupState_ == AVAHI_ENTRY_GROUP_ESTABLISHED;
    groupState_ = state;
    if (wasEstablished && state == AVAHI_ENTRY_GROUP_COLLISION) {
      collided_ = true;
      lost = true;
    }
    lost = lost || (wasEstablished && state == AVAHI_ENTRY_GROUP_FAILURE &&
                    clientState_ == AVAHI_CLIENT_S_RUNNING);
  }
  stateChanged_.notify_all();
  if (lost) {
    Log(channels::kMdns, kLogInfo, "Avahi entry %s — re-publishing",
        state == AVAHI_ENTRY_GROUP_COLLISION ? "lost its name" : "failed");
    selfHeal().MarkLost();
  }
}

void AvahiServiceAdvertiser::Browsed(AvahiServiceBrowser* browser, AvahiBrowserEvent event,
                                     const char* name) {
  if (browser != browser_)
    return;
  if (event == AVAHI_BROWSER_NEW && name != nullptr) {
    selfHeal().NoteNames({dnssd::EscapeLabel(name)});
  } else if (event == AVAHI_BROWSER_ALL_FOR_NOW) {
    selfHeal().EndRound();
  } else if (event == AVAHI_BROWSER_FAILURE) {
    selfHeal().AbandonRound();  // a failed browse says nothing about us
  }
}

}  // namespace Sorvane
