#include "sv-receiver/lib/frame_orderer.h"

#include <algorithm>

namespace Sorvane::receiver {
namespace {

// Signed distance from a to b on the 16-bit frame-id circle.
int Distance(uint16_t a, uint16_t b) {
  return static_cast<int16_t>(static_cast<uint16_t>(b - a));
}

}  // namespace

FrameOrderer::FrameOrderer(FrameSink frames, LossSink losses, int64_t holdUs)
    : frames_(std::move(frames)), losses_(std::move(losses)), holdUs_(holdUs) {}

void FrameOrderer::OnFrame(const AssembledFrame& frame, int64_t nowUs) {
  if (!started_) {
    started_ = true;
    next_ = frame.frameId;
  }
  if (Distance(next_, frame.frameId) < 0) {
    ++stats_.late;
    return;
  }
  held_.emplace(frame.frameId, Held{frame, nowUs});
  Release(nowUs, false);
}

void FrameOrderer::OnTick(int64_t nowUs) {
  Release(nowUs, false);
}

std::optional<int64_t> FrameOrderer::NextDeadlineUs() const {
  if (held_.empty())
    return std::nullopt;
  int64_t oldest = held_.begin()->second.sinceUs;
  for (const auto& [id, held] : held_)
    oldest = std::min(oldest, held.sinceUs);
  return oldest + holdUs_;
}

void FrameOrderer::Flush() {
  Release(0, true);
}

void FrameOrderer::Release(int64_t nowUs, bool force) {
  while (!held_.empty()) {
    const auto at = held_.find(next_);
    if (at != held_.end()) {
      const AssembledFrame frame = std::move(at->second.frame);
      held_.erase(at);
      ++next_;
      ++stats_.released;
      if (frames_)
        frames_(frame);
      continue;
    }
    // A hole at next_: the nearest frame after it, and how long the frames after it waited.
    uint16_t nearest = held_.begin()->first;
    int64_t oldest = held_.begin()->second.sinceUs;
    for (const auto& [id, held] : held_) {
      if (Distance(next_, id) < Distance(next_, nearest))
        nearest = id;
      oldest = std::min(oldest, held.sinceUs);
    }
    if (!force && nowUs - oldest < holdUs_)
      return;
    GiveUpTo(nearest);
  }
}

void FrameOrderer::GiveUpTo(uint16_t frameId) {
  const auto count = static_cast<uint32_t>(Distance(next_, frameId));
  stats_.lost += count;
  if (losses_)
    losses_(next_, count);
  next_ = frameId;
}

}  // namespace Sorvane::receiver
