#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "net/datagram_header.h"

namespace Sorvane::receiver {

// A frame or audio packet rebuilt from its datagrams.
struct AssembledFrame {
  uint8_t streamType = 0;  // 1 video, 2 audio
  uint16_t frameId = 0;
  bool keyframe = false;
  uint32_t timestampUs = 0;
  std::vector<uint8_t> data;
  bool rebuiltByParity = false;
  bool hasSendTime = false;
  uint32_t lastSendTimeUs = 0;  // latest send-time trailer among its data datagrams
};

enum class RejectReason : int {
  TooShort,
  BadMagicOrVersion,
  BadStreamType,
  BadFlags,
  ZeroTotal,
  IndexOutOfRange,
  BadPayloadLength,
  MissingTrailer,
  Inconsistent,  // disagrees with earlier datagrams of the same frame
  Duplicate,
  Stale,        // belongs to a frame already delivered or given up
  Unconfirmed,  // far from the window, and nothing came to confirm the jump
  Count,
};
const char* RejectReasonName(RejectReason reason);

struct AssemblerStats {
  uint64_t datagramsAccepted = 0;
  std::array<uint64_t, static_cast<size_t>(RejectReason::Count)> rejected{};
  uint64_t framesComplete = 0;
  uint64_t framesRebuiltByParity = 0;
  uint64_t framesLost = 0;
  uint64_t lateFragments = 0;  // spare fragments of frames already delivered (not an error)
  // One-way delay of datagrams with a send-time trailer (valid when both ends share a clock).
  uint64_t delaySamples = 0;
  double delaySumUs = 0;
  uint32_t delayMaxUs = 0;
  uint64_t RejectedTotal() const;
};

// Rebuilds frames from datagrams arriving in any order: validates every header field, groups by
// (stream, frame id) with 16-bit wrap, rebuilds from any n of n + p fragments with the erasure
// code, rejects duplicates and malformed datagrams with a counted reason, and gives up on frames
// that a bounded window of later frames has passed. Memory stays bounded whatever arrives.
// A datagram far from the window (a stray one, or a sender that started over) is held apart: the
// window jumps to it only once several consistent datagrams or a whole keyframe came from there,
// so one stray datagram cannot make every real frame stale.
class FrameAssembler {
 public:
  using FrameSink = std::function<void(const AssembledFrame&)>;

  struct Options {
    uint16_t windowFrames = 16;  // a frame this many ids behind the newest is lost (1..32767)
    // Across all pending frames; room for the largest legal frame (94 370 400 bytes) and more.
    size_t maxBufferedBytes = 128u << 20;
  };

  explicit FrameAssembler(FrameSink sink);
  FrameAssembler(FrameSink sink, const Options& options);

  // One datagram as received; `receiveTimeUs` is the receiver's monotonic clock (low 32 bits
  // suffice) for the one-way delay.
  void Push(const uint8_t* datagram, size_t size, uint32_t receiveTimeUs);
  // Gives up on everything still pending (end of a run).
  void Flush();
  const AssemblerStats& stats() const { return stats_; }
  // Payload bytes held for frames still pending, and how many such frames there are.
  size_t BufferedBytes() const { return bufferedBytes_; }
  size_t PendingFrames() const { return streams_[0].pending.size() + streams_[1].pending.size(); }

 private:
  struct Pending {
    DatagramHeader first;  // the frame's shape as its first datagram told it
    uint16_t dataCount = 0;
    uint16_t parityCount = 0;
    std::map<uint16_t, std::vector<uint8_t>> fragments;  // index → payload
    uint16_t dataReceived = 0;
    uint16_t lastDataLength = 0;  // from the last data fragment or any parity fragment
    uint32_t lastSendTimeUs = 0;
    bool hasSendTime = false;
    size_t bytes = 0;
  };
  // Datagrams far from the window, waiting for the jump to be confirmed.
  struct Probation {
    uint16_t anchor = 0;  // the newest frame id among them
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint32_t> receiveTimesUs;
  };
  struct Stream {
    std::map<uint16_t, Pending> pending;  // by frame id
    struct Finished {
      uint16_t id;
      bool delivered;
    };
    std::deque<Finished> finished;  // recently delivered or lost ids
    bool seenAny = false;
    uint16_t newest = 0;
    Probation probation;
  };

  bool Validate(const uint8_t* datagram, size_t size, DatagramHeader* header);
  void Reject(RejectReason reason) { ++stats_.rejected[static_cast<size_t>(reason)]; }
  Stream& StreamFor(uint8_t type) { return streams_[type == 1 ? 0 : 1]; }
  void AdvanceWindow(Stream& stream, uint16_t frameId);
  // Whether `frameId` is too far from the window to belong to the stream as it runs.
  bool FarFromWindow(const Stream& stream, uint16_t frameId) const;
  void HoldOnProbation(Stream& stream, const DatagramHeader& h, const uint8_t* datagram,
                       size_t size, uint32_t receiveTimeUs);
  static bool ProbationHoldsKeyframe(const Probation& probation, uint16_t frameId);
  void DiscardProbation(Stream& stream);
  void TryComplete(Stream& stream, uint16_t frameId);
  bool Rebuild(Pending& frame, std::vector<uint8_t>* out);
  void Finish(Stream& stream, uint16_t frameId, bool delivered);
  void EnforceMemoryBound();
  // The recently finished frame with this id, if any.
  static const Stream::Finished* RecentlyFinished(const Stream& stream, uint16_t frameId);

  FrameSink sink_;
  Options options_;
  std::array<Stream, 2> streams_;
  size_t bufferedBytes_ = 0;
  AssemblerStats stats_;
};

}  // namespace Sorvane::receiver
