#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "discovery/network_change_watch.h"
#include "discovery/self_heal_state.h"
#include "discovery/service_advertiser.h"

namespace Sorvane {

// The advertiser's life shared by every platform: Start and Stop, the self-heal thread with its
// browse rounds, the re-publish that withdraws the old entry, registers the stored record again
// and adopts whatever name the system gave it, and the "transmit" value kept up to date. A
// platform supplies registration and browsing. A registration that fails, at Start or later, is
// retried with backoff for as long as the advertiser runs.
//
// Lock order: main lock → (platform locks) → the self-heal state's browse lock. Platform callbacks
// never take the main lock; they report through selfHeal().
class SelfHealingAdvertiser : public IServiceAdvertiser {
 public:
  struct Options {
    const Clock* clock = nullptr;   // default: the steady clock
    bool runSelfHealThread = true;  // tests drive SelfHealStep themselves
    bool watchNetwork = true;       // tests report changes through OnNetworkChange
  };

  explicit SelfHealingAdvertiser(const Options& options);
  // Platform destructors call Stop(): the platform half is gone by the time this one runs.
  ~SelfHealingAdvertiser() override;

  bool Start(uint16_t port, const AdvertisementRecord& record) final;
  void Stop() final;
  bool IsRegistered() const final { return registered_.load(); }
  // Never waits for the main lock: the self-heal thread applies the value.
  void SetTransmit(bool transmit) final;

  // One pass of the self-heal thread: applies a changed "transmit" value, ends or begins a browse
  // round when due, and re-publishes when our entry has been absent long enough.
  void SelfHealStep();
  // An interface gained or lost an address.
  void OnNetworkChange();

  const SelfHealState& selfHealState() const { return selfHeal_; }

 protected:
  struct Registration {
    bool ok = false;
    // Instance names in presentation form (escaped label, optionally the rest of the name).
    std::string askedName;       // the one we asked for
    std::string registeredName;  // the one the system registered
  };

  // All called with the main lock held.
  virtual Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) = 0;
  virtual void WithdrawLocked() = 0;  // harmless when nothing is registered
  // Starts a browse of our service type, replacing any running one; false when it cannot.
  virtual bool BrowseLocked() = 0;
  virtual void EndBrowseLocked() = 0;
  // Changes the TXT record of the live entry in place; false where the platform cannot, and the
  // entry is then registered again.
  virtual bool UpdateTxtLocked(const AdvertisementRecord&) { return false; }
  // The system's name in the "uniquified our name" line.
  virtual const char* SystemName() const = 0;

  SelfHealState& selfHeal() { return selfHeal_; }
  const Clock& clock() const { return clock_; }

  // A registration or browse failure: logged at Error when it differs from the last one, else at
  // Debug, so retries that keep failing the same way do not flood the log. A registration that
  // succeeds starts over.
  void LogFailure(const char* format, ...);

 private:
  void EndSelfHealThread();
  void StopSelfHeal();
  void StartSelfHealLocked(const Registration& registration) REQUIRES(mainLock_);
  // Registers the stored record and logs the outcome.
  Registration RegisterAndLogLocked(bool republishing) REQUIRES(mainLock_);
  void RunRoundsLocked() REQUIRES(mainLock_);
  void EndBrowseRoundLocked() REQUIRES(mainLock_);
  void RepublishLocked() REQUIRES(mainLock_);
  void ApplyTransmitLocked() REQUIRES(mainLock_);
  void WithdrawAndLogLocked() REQUIRES(mainLock_);
  void Wake();
  void SelfHealLoop();

  const Options options_;
  const Clock& clock_;
  SelfHealState selfHeal_;
  std::mutex mainLock_;
  std::atomic<bool> registered_{false};
  bool started_ GUARDED_BY(mainLock_) = false;  // started with a stored record, until Stop
  bool selfHealOn_ GUARDED_BY(mainLock_) = false;
  std::atomic<bool> browseOpen_{false};  // changed under mainLock_, peeked at without it
  uint16_t port_ GUARDED_BY(mainLock_) = 0;
  AdvertisementRecord record_ GUARDED_BY(mainLock_);
  std::atomic<bool> wantedTransmit_{false};
  std::atomic<bool> advertisedTransmit_{false};  // record_.transmit, readable without the lock
  std::mutex failureLogLock_;
  std::string lastFailure_ GUARDED_BY(failureLogLock_);
  std::unique_ptr<NetworkChangeWatch> networkWatch_;  // owned by Start / Stop
  std::thread selfHealThread_;                        // owned by Start / Stop
  std::atomic<bool> running_{false};
  std::mutex wakeLock_;  // serves wake_ only
  std::condition_variable wake_;
  bool woken_ GUARDED_BY(wakeLock_) = false;
};

}  // namespace Sorvane
