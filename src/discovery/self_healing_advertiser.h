#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "discovery/self_heal_state.h"
#include "discovery/service_advertiser.h"

namespace Sorvane {

// The advertiser's life shared by every platform: Start and Stop, the self-heal thread, and the
// re-publish that withdraws the old entry, registers the stored record again and adopts whatever
// name the system gave it. A platform supplies registration and browsing.
//
// Lock order: main lock → (platform locks) → the self-heal state's browse lock. Platform callbacks
// never take the main lock; they report through selfHeal().
class SelfHealingAdvertiser : public IServiceAdvertiser {
 public:
  struct Options {
    const Clock* clock = nullptr;   // default: the steady clock
    bool runSelfHealThread = true;  // tests drive SelfHealStep themselves
  };

  explicit SelfHealingAdvertiser(const Options& options);
  // Platform destructors call Stop(): the platform half is gone by the time this one runs.
  ~SelfHealingAdvertiser() override;

  bool Start(uint16_t port, const AdvertisementRecord& record) final;
  void Stop() final;
  bool IsRegistered() const final { return registered_.load(); }

  // One pass of the self-heal thread: restarts the browse round when due and re-publishes when
  // our entry has been absent long enough.
  void SelfHealStep();

  const SelfHealState& selfHealState() const { return selfHeal_; }

 protected:
  struct Registration {
    bool ok = false;
    std::string askedName;       // the instance name we asked for
    std::string registeredName;  // the one the system registered
  };

  // All called with the main lock held.
  virtual Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) = 0;
  virtual void WithdrawLocked() = 0;  // harmless when nothing is registered
  // Starts a browse of our service type, replacing any running one; false when it cannot.
  virtual bool BrowseLocked() = 0;
  virtual void EndBrowseLocked() = 0;
  // The system's name in the "uniquified our name" line.
  virtual const char* SystemName() const = 0;

  SelfHealState& selfHeal() { return selfHeal_; }

 private:
  void EndSelfHealThread();
  void StopSelfHeal();
  void StartSelfHealLocked(const std::string& registeredName) REQUIRES(mainLock_);
  void NextRoundLocked() REQUIRES(mainLock_);
  void RepublishLocked() REQUIRES(mainLock_);
  void WithdrawAndLogLocked() REQUIRES(mainLock_);
  void SelfHealLoop();

  const Options options_;
  const Clock& clock_;
  SelfHealState selfHeal_;
  std::mutex mainLock_;
  std::atomic<bool> registered_{false};
  bool started_ GUARDED_BY(mainLock_) = false;  // started with a stored record, until Stop
  bool browsing_ GUARDED_BY(mainLock_) = false;
  uint16_t port_ GUARDED_BY(mainLock_) = 0;
  AdvertisementRecord record_ GUARDED_BY(mainLock_);
  std::thread selfHealThread_;  // owned by Start / Stop
  std::atomic<bool> running_{false};
  std::mutex wakeLock_;  // serves wake_ only
  std::condition_variable wake_;
};

}  // namespace Sorvane
