#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "sv-receiver/lib/frame_assembler.h"

namespace Sorvane::receiver {

// Hands completed video frames to the decoder in frame-id order, as a phone's small jitter buffer
// does: inter frames decode only after the frame before them. A frame still missing once a later
// one has waited `holdUs` is lost for good; it is reported, and the frames after it go on.
class FrameOrderer {
 public:
  using FrameSink = std::function<void(const AssembledFrame&)>;
  // The first lost frame id and how many in a row.
  using LossSink = std::function<void(uint16_t first, uint32_t count)>;

  struct Stats {
    uint64_t released = 0;
    uint64_t lost = 0;
    uint64_t late = 0;  // completed after it had been given up
  };

  FrameOrderer(FrameSink frames, LossSink losses, int64_t holdUs = 20'000);

  // A frame the assembler completed, at `nowUs` on the receiver's clock.
  void OnFrame(const AssembledFrame& frame, int64_t nowUs);
  // Time passes without a frame: a hole that has waited long enough is given up.
  void OnTick(int64_t nowUs);
  // When a held frame will have waited long enough for the hole before it to be given up.
  std::optional<int64_t> NextDeadlineUs() const;
  // The end of the run: whatever is held is released, holes in between count as lost.
  void Flush();
  const Stats& stats() const { return stats_; }

 private:
  struct Held {
    AssembledFrame frame;
    int64_t sinceUs;
  };
  void Release(int64_t nowUs, bool force);
  void GiveUpTo(uint16_t frameId);

  FrameSink frames_;
  LossSink losses_;
  const int64_t holdUs_;
  bool started_ = false;
  uint16_t next_ = 0;              // the frame the decoder needs next
  std::map<uint16_t, Held> held_;  // completed frames after a hole, by id
  Stats stats_;
};

}  // namespace Sorvane::receiver
