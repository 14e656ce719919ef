#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace Sorvane::receiver {

// What a phone does when pictures are lost for good in a stream of inter frames: it asks the
// plug-in for a keyframe (RequestIDR, no more often than a phone would), shows the last good
// picture until a keyframe comes, and skips the inter frames that cannot decode meanwhile. It also
// keeps the figures of how the stream looked: pictures shown and missed, requests, the longest
// freeze and the time from each loss to the next keyframe shown.
class LossRecovery {
 public:
  struct Options {
    int64_t minRequestSpacingUs = 50'000;  // no two requests closer than this
    int64_t retryAfterUs = 500'000;        // ask again when no keyframe came by then
  };
  struct Stats {
    uint64_t shown = 0;
    uint64_t lost = 0;     // never complete in time
    uint64_t skipped = 0;  // complete, but not decodable while waiting for a keyframe
    uint64_t failed = 0;   // given to the decoder, no picture came out
    uint64_t keyframeRequests = 0;
    int64_t longestFreezeUs = 0;  // between two pictures shown with pictures missed between
    int64_t longestGapUs = 0;     // between any two pictures shown (a host pause included)
    std::vector<int64_t> lossToKeyframeUs;
    uint64_t Expected() const { return shown + lost + skipped + failed; }
    double ShownShare() const { return Expected() ? static_cast<double>(shown) / Expected() : 0; }
  };
  using RequestKeyframe = std::function<void()>;

  explicit LossRecovery(RequestKeyframe request);
  LossRecovery(RequestKeyframe request, const Options& options);

  // A frame in order: whether to decode it (not while waiting for a keyframe).
  bool ShouldDecode(bool keyframe, int64_t nowUs);
  void OnLost(uint32_t count, int64_t nowUs);
  // What came of a decoded frame.
  void OnShown(bool keyframe, int64_t nowUs);
  void OnNotShown(int64_t nowUs);
  // Time passes: a keyframe that did not come is asked for again.
  void OnTick(int64_t nowUs);
  const Stats& stats() const { return stats_; }

 private:
  void Await(int64_t nowUs);
  void MissedAPicture(int64_t nowUs);
  void RequestIfDue(int64_t nowUs, int64_t spacingUs);

  RequestKeyframe request_;
  const Options options_;
  bool interFrames_ = false;  // an inter frame was seen: a loss breaks the frames after it
  bool keyframeSeen_ = false;
  bool awaiting_ = false;
  int64_t lossAtUs_ = 0;
  bool requested_ = false;
  int64_t lastRequestUs_ = 0;
  bool shownAny_ = false;
  int64_t lastShownUs_ = 0;
  uint64_t missedSinceShown_ = 0;
  Stats stats_;
};

}  // namespace Sorvane::receiver
