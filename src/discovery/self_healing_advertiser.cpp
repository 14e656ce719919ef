#include "discovery/self_healing_advertiser.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "diag/crash_handler.h"
#include "diag/thread_guard.h"
#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {

using RoundAction = SelfHealState::RoundAction;

SelfHealingAdvertiser::SelfHealingAdvertiser(const Options& options)
    : options_(options),
      clock_(options.clock ? *options.clock : SteadyClock()),
      selfHeal_(clock_) {}

SelfHealingAdvertiser::~SelfHealingAdvertiser() {
  // Only the threads can be left to end here; the platform's Stop has withdrawn everything.
  EndSelfHealThread();
  networkWatch_.reset();
}

bool SelfHealingAdvertiser::Start(uint16_t port, const AdvertisementRecord& record) {
  StopSelfHeal();
  std::lock_guard<std::mutex> lock(mainLock_);
  WithdrawAndLogLocked();
  started_ = true;
  port_ = port;
  record_ = record;
  wantedTransmit_.store(record.transmit);
  advertisedTransmit_.store(record.transmit);
  const Registration registration = RegisterAndLogLocked(false);
  StartSelfHealLocked(registration);
  return registration.ok;
}

void SelfHealingAdvertiser::Stop() {
  StopSelfHeal();
  std::lock_guard<std::mutex> lock(mainLock_);
  WithdrawAndLogLocked();
  started_ = false;
}

void SelfHealingAdvertiser::SetTransmit(bool transmit) {
  wantedTransmit_.store(transmit);
  Wake();
}

void SelfHealingAdvertiser::OnNetworkChange() {
  selfHeal_.NetworkChanged();
  Wake();
}

void SelfHealingAdvertiser::LogFailure(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  bool repeated = false;
  {
    std::lock_guard<std::mutex> lock(failureLogLock_);
    repeated = lastFailure_ == text;
    lastFailure_ = text;
  }
  Log(channels::kMdns, repeated ? kLogDebug : kLogError, "%s", text);
}

void SelfHealingAdvertiser::Wake() {
  {
    std::lock_guard<std::mutex> lock(wakeLock_);
    woken_ = true;
  }
  wake_.notify_all();
}

void SelfHealingAdvertiser::EndSelfHealThread() {
  running_.store(false);
  Wake();
  if (selfHealThread_.joinable())
    selfHealThread_.join();
}

void SelfHealingAdvertiser::StopSelfHeal() {
  EndSelfHealThread();    // before the main lock, which the thread takes
  networkWatch_.reset();  // waits for a running callback, which takes no lock of ours but its own
  std::lock_guard<std::mutex> lock(mainLock_);
  if (browseOpen_)
    EndBrowseLocked();
  browseOpen_ = false;
  selfHealOn_ = false;
  selfHeal_.Forget();
}

SelfHealingAdvertiser::Registration SelfHealingAdvertiser::RegisterAndLogLocked(bool republishing) {
  const Registration registration = RegisterLocked(port_, record_);
  if (!registration.ok)
    return registration;
  registered_.store(true);
  {
    std::lock_guard<std::mutex> lock(failureLogLock_);
    lastFailure_.clear();
  }
  Log(channels::kMdns, kLogInfo, "advertising :%u id=%{public}s name=%{public}s transmit=%d", port_,
      record_.id.c_str(), record_.name.c_str(), record_.transmit ? 1 : 0);
  if (dnssd::SameInstanceName(registration.registeredName, registration.askedName))
    return registration;
  if (republishing) {
    Log(channels::kMdns, kLogInfo,
        "[bj] self-heal: %s uniquified our name — adopting it, self-heal stays active",
        SystemName());
  } else {
    Log(channels::kMdns, kLogInfo, "name taken — advertising as %{public}s",
        dnssd::FirstLabel(registration.registeredName).c_str());
  }
  return registration;
}

void SelfHealingAdvertiser::StartSelfHealLocked(const Registration& registration) {
  const std::string& name = registration.ok ? registration.registeredName : registration.askedName;
  if (name.empty()) {
    // Without a name there is nothing to look for, and a platform that could not even name the
    // entry has said why.
    if (registration.ok)
      Log(channels::kMdns, kLogInfo, "[bj] self-heal: no instance name — skipping");
    return;
  }
  selfHeal_.Track(name);
  if (!registration.ok)
    selfHeal_.MarkRegistrationFailed();
  selfHealOn_ = true;
  running_.store(true);
  if (options_.watchNetwork) {
    networkWatch_ = std::make_unique<NetworkChangeWatch>([this] { OnNetworkChange(); });
    networkWatch_->Start();
  }
  if (options_.runSelfHealThread)
    selfHealThread_ = std::thread(&SelfHealingAdvertiser::SelfHealLoop, this);
  Log(channels::kMdns, kLogInfo,
      "[bj] self-heal: started (browse rounds with backoff + register-only on loss)");
}

void SelfHealingAdvertiser::SelfHealLoop() {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kMdns, "self-heal thread");
  guard.Run([this] {
    while (running_.load()) {
      {
        std::unique_lock<std::mutex> lock(wakeLock_);
        wake_.wait_for(lock, std::chrono::milliseconds(200),
                       [this] { return woken_ || !running_.load(); });
        woken_ = false;
      }
      if (!running_.load())
        return;
      SelfHealStep();
    }
  });
}

void SelfHealingAdvertiser::SelfHealStep() {
  // The browse lock is taken and released before the main lock, never inside it here.
  const bool transmitChanged = wantedTransmit_.load() != advertisedTransmit_.load();
  const bool republish = selfHeal_.TakeRepublishTurn();
  const RoundAction action = selfHeal_.NextRoundAction();
  const bool roundWork = action == RoundAction::kEnd ||
                         (action == RoundAction::kBegin && registered_.load()) ||
                         (browseOpen_.load() && !selfHeal_.RoundOpen());
  if (!transmitChanged && !republish && !roundWork)
    return;
  std::lock_guard<std::mutex> lock(mainLock_);
  if (!started_ || !selfHealOn_)
    return;
  if (transmitChanged)
    ApplyTransmitLocked();
  if (republish)
    RepublishLocked();
  RunRoundsLocked();
}

void SelfHealingAdvertiser::RunRoundsLocked() {
  if (selfHeal_.NextRoundAction() == RoundAction::kEnd) {
    // The round has listened long enough; one without a browse is no evidence.
    if (browseOpen_)
      selfHeal_.EndRound();
    else
      selfHeal_.AbandonRound();
  }
  // Closed here, by the platform's "all for now", by a failure or by a network change.
  if (browseOpen_ && !selfHeal_.RoundOpen())
    EndBrowseRoundLocked();
  if (!registered_.load() || selfHeal_.NextRoundAction() != RoundAction::kBegin)
    return;
  selfHeal_.BeginRound();
  browseOpen_ = BrowseLocked();
  if (!browseOpen_)
    selfHeal_.AbandonRound();
}

void SelfHealingAdvertiser::EndBrowseRoundLocked() {
  EndBrowseLocked();
  browseOpen_ = false;
}

void SelfHealingAdvertiser::RepublishLocked() {
  // Every attempt of one absence after the first is logged only at Debug.
  const LogLevel level = selfHeal_.FirstAttemptOfAbsence() ? kLogInfo : kLogDebug;
  Log(channels::kMdns, level, "[bj] self-heal: re-publishing (register-only) id=%{public}s",
      record_.id.c_str());
  // The old entry goes first, so a re-publish never leaves a second copy beside a live one.
  WithdrawAndLogLocked();
  const Registration registration = RegisterAndLogLocked(true);
  if (!registration.ok) {
    Log(channels::kMdns, level == kLogInfo ? kLogError : kLogDebug,
        "[bj] self-heal: re-register failed — retrying with backoff");
    return;  // still absent: the next attempt follows after a longer wait
  }
  selfHeal_.Track(registration.registeredName);
}

void SelfHealingAdvertiser::ApplyTransmitLocked() {
  const bool transmit = wantedTransmit_.load();
  if (transmit == record_.transmit)
    return;
  record_.transmit = transmit;
  advertisedTransmit_.store(transmit);
  if (!registered_.load())
    return;  // the next registration carries it
  if (UpdateTxtLocked(record_)) {
    Log(channels::kMdns, kLogInfo, "advertised transmit=%d", transmit ? 1 : 0);
    return;
  }
  Log(channels::kMdns, kLogInfo, "advertised transmit=%d — registering the entry again",
      transmit ? 1 : 0);
  WithdrawAndLogLocked();
  const Registration registration = RegisterAndLogLocked(false);
  if (registration.ok)
    selfHeal_.Track(registration.registeredName);
  else
    selfHeal_.MarkRegistrationFailed();
}

void SelfHealingAdvertiser::WithdrawAndLogLocked() {
  const bool wasRegistered = registered_.exchange(false);
  WithdrawLocked();
  if (wasRegistered)
    Log(channels::kMdns, kLogInfo, "advertising stopped");
}

}  // namespace Sorvane
