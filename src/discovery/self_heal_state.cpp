#include "discovery/self_heal_state.h"

#include <algorithm>

#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {

void SelfHealState::Track(const std::string& name) {
  std::lock_guard<std::mutex> lock(browseLock_);
  const int64_t now = clock_.NowNs();
  ourName_ = name;
  present_ = true;
  absentCount_ = 0;
  // What the open round saw before this registration says nothing about the new entry.
  roundStartedNs_ = now;
  roundSawOthers_ = false;
  roundSawUs_ = false;
  roundSpacingNs_ = kFirstRoundSpacingNs;
  nextRoundNs_ = now;
}

void SelfHealState::Forget() {
  std::lock_guard<std::mutex> lock(browseLock_);
  ourName_.clear();
  present_ = true;
  seenUs_ = false;
  absentCount_ = 0;
  roundOpen_ = false;
  nextRoundNs_ = 0;
  roundSpacingNs_ = kFirstRoundSpacingNs;
  nextRepublishNs_ = 0;
  republishDelayNs_ = kFirstRepublishDelayNs;
  turnsSinceSeen_ = 0;
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
    if (dnssd::SameInstanceName(name, ourName_)) {
      roundSawUs_ = true;
      seenUs_ = true;
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
  const bool miss = !ourName_.empty() && !roundSawUs_ && (roundSawOthers_ || seenUs_);
  if (!miss) {
    CloseRoundLocked(roundSpacingNs_);
    WidenSpacingLocked();
    return;
  }
  roundSpacingNs_ = kFirstRoundSpacingNs;
  CloseRoundLocked(roundSpacingNs_);
  CountMissLocked();
}

void SelfHealState::AbandonRound() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (!roundOpen_)
    return;
  CloseRoundLocked(roundSpacingNs_);
  WidenSpacingLocked();
}

SelfHealState::RoundAction SelfHealState::NextRoundAction() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  const int64_t now = clock_.NowNs();
  if (roundOpen_)
    return now - roundStartedNs_ >= kRoundWindowNs ? RoundAction::kEnd : RoundAction::kNone;
  return !ourName_.empty() && now >= nextRoundNs_ ? RoundAction::kBegin : RoundAction::kNone;
}

bool SelfHealState::RoundOpen() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return roundOpen_;
}

void SelfHealState::NetworkChanged() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty())
    return;
  Log(channels::kMdns, kLogInfo, "[bj] self-heal: network changed — looking for our entry again");
  const int64_t now = clock_.NowNs();
  roundOpen_ = false;  // what it saw may predate the change
  roundSpacingNs_ = kFirstRoundSpacingNs;
  nextRoundNs_ = now + kNetworkSettleNs;
  // A registration that kept failing (no network yet) is worth trying again soon.
  republishDelayNs_ = kFirstRepublishDelayNs;
  turnsSinceSeen_ = 0;
  if (!present_)
    nextRepublishNs_ = now + kNetworkSettleNs;
}

void SelfHealState::MarkLost(bool afresh) {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty())
    return;
  if (afresh) {
    republishDelayNs_ = kFirstRepublishDelayNs;
    turnsSinceSeen_ = 0;
  }
  AbsentLocked(clock_.NowNs());
}

void SelfHealState::MarkRegistrationFailed() {
  std::lock_guard<std::mutex> lock(browseLock_);
  if (ourName_.empty())
    return;
  present_ = false;
  absentCount_ = kMissesToArm;
  TakeTurnLocked(clock_.NowNs());
}

bool SelfHealState::TakeRepublishTurn() {
  std::lock_guard<std::mutex> lock(browseLock_);
  const int64_t now = clock_.NowNs();
  if (ourName_.empty() || present_ || now < nextRepublishNs_)
    return false;
  TakeTurnLocked(now);
  return true;
}

bool SelfHealState::FirstAttemptOfAbsence() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return turnsSinceSeen_ == 1;
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

int64_t SelfHealState::roundSpacingNs() const {
  std::lock_guard<std::mutex> lock(browseLock_);
  return roundSpacingNs_;
}

void SelfHealState::MarkPresentLocked() {
  if (!present_)
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: our instance back on the wire");
  present_ = true;
  absentCount_ = 0;
  republishDelayNs_ = kFirstRepublishDelayNs;
  turnsSinceSeen_ = 0;
}

void SelfHealState::CountMissLocked() {
  ++absentCount_;
  if (present_ && absentCount_ >= kMissesToArm)
    AbsentLocked(clock_.NowNs() + kFirstRepublishDelayNs);
}

void SelfHealState::AbsentLocked(int64_t earliestRepublishNs) {
  if (present_)
    Log(channels::kMdns, kLogInfo, "[bj] self-heal: our instance ABSENT — arming re-publish");
  present_ = false;
  absentCount_ = std::max(absentCount_, kMissesToArm);
  // Re-published entries that never showed up make the next attempt wait its backoff.
  nextRepublishNs_ =
      turnsSinceSeen_ > 0 ? std::max(earliestRepublishNs, nextRepublishNs_) : earliestRepublishNs;
}

void SelfHealState::TakeTurnLocked(int64_t now) {
  nextRepublishNs_ = now + republishDelayNs_;
  republishDelayNs_ = std::min(republishDelayNs_ * 2, kMaxRepublishDelayNs);
  ++turnsSinceSeen_;
}

void SelfHealState::CloseRoundLocked(int64_t spacingNs) {
  roundOpen_ = false;
  nextRoundNs_ = roundStartedNs_ + spacingNs;
}

void SelfHealState::WidenSpacingLocked() {
  roundSpacingNs_ = std::min(roundSpacingNs_ * 2, kMaxRoundSpacingNs);
}

}  // namespace Sorvane
