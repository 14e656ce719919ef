#include "discovery/self_healing_advertiser.h"

#include <chrono>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {

SelfHealingAdvertiser::SelfHealingAdvertiser(const Options& options)
    : options_(options),
      clock_(options.clock ? *options.clock : SteadyClock()),
      selfHeal_(clock_) {}

SelfHealingAdvertiser::~SelfHealingAdvertiser() {
  // Only the thread can be left to end here; the platform's Stop has withdrawn everything.
  EndSelfHealThread();
}

bool SelfHealingAdvertiser::Start(uint16_t port, const AdvertisementRecord& record) {
  StopSelfHeal();
  std::lock_guard<std::mutex> lock(mainLock_);
  WithdrawAndLogLocked();
  started_ = false;
  port_ = port;
  record_ = record;
  const Registration registration = RegisterLocked(port, record);
  if (!registration.ok)
    return false;
  registered_.store(true);
  started_ = true;
  Log(channels::kMdns, kLogInfo, "advertising :%u id=%{public}s name=%{public}s transmit=%d", port,
      record.id.c_str(), record.name.c_str(), record.transmit ? 1 : 0);
  if (!dnssd::SameName(registration.registeredName, registration.askedName)) {
    Log(channels::kMdns, kLogInfo, "name taken — advertising as %{public}s",
        registration.registeredName.c_str());
  }
  StartSelfHealLocked(registration.registeredName);
  return true;
}

void SelfHealingAdvertiser::Stop() {
  StopSelfHeal();
  std::lock_guard<std::mutex> lock(mainLock_);
  WithdrawAndLogLocked();
  started_ = false;
}

void SelfHealingAdvertiser::EndSelfHealThread() {
  running_.store(false);
  { std::lock_guard<std::mutex> lock(wakeLock_); }
  wake_.notify_all();
  if (selfHealThread_.joinable())
    selfHealThread_.join();
}

void SelfHealingAdvertiser::StopSelfHeal() {
  EndSelfHealThread();  // before the main lock, which the thread takes
  std::lock_guard<std::mutex> lock(mainLock_);
  if (browsing_)
    EndBrowseLocked();
  browsing_ = false;
  selfHeal_.Forget();
}

void SelfHealingAdvertiser::StartSelfHealLocked(const std::string& registeredName) {
  if (browsing_)
    return;
  if (registeredName.empty()) {
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: no instance name — skipping");
    return;
  }
  selfHeal_.Track(registeredName);
  selfHeal_.BeginRound();  // before the browse, whose first results may arrive at once
  if (!BrowseLocked()) {
    selfHeal_.Forget();
    return;
  }
  browsing_ = true;
  running_.store(true);
  if (options_.runSelfHealThread)
    selfHealThread_ = std::thread(&SelfHealingAdvertiser::SelfHealLoop, this);
  Log(channels::kMdns, kLogInfo,
      "[bj] self-heal: started (read-only browse + register-only on loss)");
}

void SelfHealingAdvertiser::SelfHealLoop() {
  PrepareThreadForCrashes();
  while (running_.load()) {
    {
      std::unique_lock<std::mutex> lock(wakeLock_);
      wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return !running_.load(); });
    }
    if (!running_.load())
      return;
    SelfHealStep();
  }
}

void SelfHealingAdvertiser::SelfHealStep() {
  // The browse lock is taken and released before the main lock, never inside it here.
  const bool republish = selfHeal_.TakeRepublishTurn();
  const bool roundDue = selfHeal_.RoundDue();
  if (!republish && !roundDue)
    return;
  std::lock_guard<std::mutex> lock(mainLock_);
  if (!started_ || !browsing_)
    return;
  if (roundDue)
    NextRoundLocked();
  if (republish)
    RepublishLocked();
}

void SelfHealingAdvertiser::NextRoundLocked() {
  selfHeal_.EndRound();
  selfHeal_.BeginRound();
  BrowseLocked();  // a browse that cannot start gives an empty round, which never counts
}

void SelfHealingAdvertiser::RepublishLocked() {
  Log(channels::kMdns, kLogInfo, "[bj] self-heal: re-publishing (register-only) id=%{public}s",
      record_.id.c_str());
  // The old entry goes first, so a re-publish never leaves a second copy beside a live one.
  WithdrawAndLogLocked();
  const Registration registration = RegisterLocked(port_, record_);
  if (!registration.ok) {
    Log(channels::kMdns, kLogError, "[bj] self-heal: re-register failed");
    return;  // still absent: the next attempt follows 1.5 s later
  }
  registered_.store(true);
  Log(channels::kMdns, kLogInfo, "advertising :%u id=%{public}s name=%{public}s transmit=%d", port_,
      record_.id.c_str(), record_.name.c_str(), record_.transmit ? 1 : 0);
  if (!dnssd::SameName(registration.registeredName, registration.askedName)) {
    Log(channels::kMdns, kLogInfo,
        "[bj] self-heal: %s uniquified our name — adopting it, self-heal stays active",
        SystemName());
  }
  selfHeal_.Track(registration.registeredName);
}

void SelfHealingAdvertiser::WithdrawAndLogLocked() {
  const bool wasRegistered = registered_.exchange(false);
  WithdrawLocked();
  if (wasRegistered)
    Log(channels::kMdns, kLogInfo, "advertising stopped");
}

}  // namespace Sorvane
