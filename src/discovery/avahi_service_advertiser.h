#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

#include "discovery/self_healing_advertiser.h"

namespace Sorvane {

// Publishes the service through the Avahi daemon. A name collision adopts Avahi's alternative
// name; a daemon that restarts, or an entry that fails, is re-published through the self-heal. A
// new "transmit" value changes the live entry's TXT record in place.
class AvahiServiceAdvertiser final : public SelfHealingAdvertiser {
 public:
  explicit AvahiServiceAdvertiser(const Options& options = {});
  ~AvahiServiceAdvertiser() override;

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  enum class GroupOutcome { kEstablished, kCollision, kFailed, kTimedOut };

  Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) override;
  void WithdrawLocked() override;
  bool BrowseLocked() override;
  void EndBrowseLocked() override;
  bool UpdateTxtLocked(const AdvertisementRecord& record) override;
  const char* SystemName() const override { return "Avahi"; }

  bool EnsureClientLocked();
  bool WaitForRunningDaemon(Deadline deadline);
  int AddServiceLocked(uint16_t port, const AdvertisementRecord& record);
  GroupOutcome WaitForGroup(Deadline deadline);
  void AdoptAlternativeName();

  // Avahi calls these on its poll thread, through guards that stop any exception there.
  static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
  static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
  static void OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex, AvahiProtocol,
                       AvahiBrowserEvent event, const char* name, const char* type,
                       const char* domain, AvahiLookupResultFlags, void* self);
  void ClientStateChanged(AvahiClient* client, AvahiClientState state);
  void GroupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state);
  void Browsed(AvahiServiceBrowser* browser, AvahiBrowserEvent event, const char* name);

  // Created on first use; the poll thread runs every Avahi callback with the poll lock held.
  AvahiThreadedPoll* poll_ = nullptr;  // main lock
  // The next three are changed under the main lock and the poll lock; callbacks read them.
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  AvahiServiceBrowser* browser_ = nullptr;
  std::string label_;        // main lock: the label we register under, adopted after collisions
  std::string labelSource_;  // main lock: the record name label_ was made from

  // What the callbacks saw, for the waits on the main lock's side. Taken after the poll lock.
  std::mutex stateLock_;
  std::condition_variable stateChanged_;
  AvahiClientState clientState_ GUARDED_BY(stateLock_) = AVAHI_CLIENT_CONNECTING;
  bool clientFailed_ GUARDED_BY(stateLock_) = false;
  bool daemonLost_ GUARDED_BY(stateLock_) = false;
  AvahiEntryGroupState groupState_ GUARDED_BY(stateLock_) = AVAHI_ENTRY_GROUP_UNCOMMITED;
  bool collided_ GUARDED_BY(stateLock_) = false;  // our entry lost its name after registering
};

}  // namespace Sorvane
