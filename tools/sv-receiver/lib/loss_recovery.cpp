#include "sv-receiver/lib/loss_recovery.h"

#include <algorithm>

namespace Sorvane::receiver {

LossRecovery::LossRecovery(RequestKeyframe request) : LossRecovery(std::move(request), Options{}) {}

LossRecovery::LossRecovery(RequestKeyframe request, const Options& options)
    : request_(std::move(request)), options_(options) {}

bool LossRecovery::ShouldDecode(bool keyframe, int64_t nowUs) {
  if (keyframe) {
    keyframeSeen_ = true;
    return true;
  }
  interFrames_ = true;
  if (!keyframeSeen_ && !awaiting_)
    Await(nowUs);  // joined a stream in the middle: nothing to build on
  if (!awaiting_)
    return true;
  ++stats_.skipped;
  ++missedSinceShown_;
  return false;
}

void LossRecovery::OnLost(uint32_t count, int64_t nowUs) {
  stats_.lost += count;
  missedSinceShown_ += count;
  MissedAPicture(nowUs);
}

// A loss while waiting may be the keyframe asked for: ask again as soon as the spacing allows.
void LossRecovery::MissedAPicture(int64_t nowUs) {
  if (!interFrames_)
    return;
  if (awaiting_) {
    RequestIfDue(nowUs, options_.minRequestSpacingUs);
  } else {
    Await(nowUs);
  }
}

void LossRecovery::Await(int64_t nowUs) {
  awaiting_ = true;
  lossAtUs_ = nowUs;
  RequestIfDue(nowUs, options_.minRequestSpacingUs);
}

void LossRecovery::OnShown(bool keyframe, int64_t nowUs) {
  ++stats_.shown;
  if (shownAny_) {
    stats_.longestGapUs = std::max(stats_.longestGapUs, nowUs - lastShownUs_);
    if (missedSinceShown_ > 0)
      stats_.longestFreezeUs = std::max(stats_.longestFreezeUs, nowUs - lastShownUs_);
  }
  shownAny_ = true;
  lastShownUs_ = nowUs;
  missedSinceShown_ = 0;
  if (keyframe && awaiting_) {
    awaiting_ = false;
    stats_.lossToKeyframeUs.push_back(nowUs - lossAtUs_);
  }
}

void LossRecovery::OnNotShown(int64_t nowUs) {
  ++stats_.failed;
  ++missedSinceShown_;
  MissedAPicture(nowUs);
}

void LossRecovery::OnTick(int64_t nowUs) {
  if (!awaiting_)
    return;
  // A request held back by the spacing goes out as soon as the spacing allows; one that went out
  // is repeated only when its keyframe is overdue.
  const bool askedSinceLoss = requested_ && lastRequestUs_ >= lossAtUs_;
  RequestIfDue(nowUs, askedSinceLoss ? options_.retryAfterUs : options_.minRequestSpacingUs);
}

void LossRecovery::RequestIfDue(int64_t nowUs, int64_t spacingUs) {
  if (requested_ && nowUs - lastRequestUs_ < spacingUs)
    return;
  requested_ = true;
  lastRequestUs_ = nowUs;
  ++stats_.keyframeRequests;
  if (request_)
    request_();
}

}  // namespace Sorvane::receiver
