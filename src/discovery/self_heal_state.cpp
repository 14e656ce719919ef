#include "discovery/self_heal_state.h"

#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {

void SelfHealState::Track(const std::string& name) {
  std::lock_guard<std::mutex> lock(browseLock_);
  ourName_ = name;
  present_ = true;
  absentCount_ = 0;
  // What the open round saw before this registration says nothing about the new entry.
  roundStartedNs_ = clock_.NowNs();
  roundSawOthers_ = false;
  roundSawUs_ = false;
}

void SelfHealState::Forget() {
  std::lock_guard<std::mutex> lock(browseLock_);
  ourName_.clear();
  present_ = true;
  absentCount_ = 0;
  roundOpen_ = false;
}

void SelfHealState::BeginRound() {
  std::lock_guard<std::mutex> lock(browseLock_);
  roundOpen_ = true;
  roundStartedNs_ = clock_.NowNs();
  roundSawOthers_ = false;
  roundSawUs_ = false;
}

void SelfHealState::NoteNames(const std::vector<std::string>& names) {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty())
    return;
  for (const std::string& name : names) {
    if (dnssd::SameName(name, ourName_)) {
      roundSawUs_ = true;
      MarkPresentLocked();
    } else if (roundOpen_) {
      roundSawOthers_ = true;
    }
  }
}

void SelfHealState::EndRound() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (!roundOpen_)
    return;
  roundOpen_ = false;
  if (ourName_.empty() || roundSawUs_ || !roundSawOthers_)
    return;
  CountMissLocked();
}

bool SelfHealState::RoundDue() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return !roundOpen_ || clock_.NowNs() - roundStartedNs_ >= kRoundLengthNs;
}

void SelfHealState::MarkLost() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty())
    return;
  if (present_)
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: our instance ABSENT — arming re-publish");
  present_ = false;
  absentCount_ = kMissesToArm;
  armedAtNs_ = clock_.NowNs() - kRepublishIntervalNs;
}

bool SelfHealState::TakeRepublishTurn() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty() || present_)
    return false;
  const int64_t now = clock_.NowNs();
  if (now - armedAtNs_ < kRepublishIntervalNs)
    return false;
  armedAtNs_ = now;
  return true;
}

std::string SelfHealState::ourName() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return ourName_;
}

bool SelfHealState::present() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return present_;
}

uint32_t SelfHealState::absentCount() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return absentCount_;
}

void SelfHealState::MarkPresentLocked() {
  if (!present_)
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: our instance back on the wire");
  present_ = true;
  absentCount_ = 0;
}

void SelfHealState::CountMissLocked() {
  ++absentCount_;
  if (present_ && absentCount_ >= kMissesToArm) {
    present_ = false;
    armedAtNs_ = clock_.NowNs();
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: our instance ABSENT — arming re-publish");
  }
}

}  // namespace Sorvane
