#include "sv-receiver/lib/frame_assembler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/byte_order.h"
#include "fec/cauchy_code.h"
#include "net/framer.h"

namespace Sorvane::receiver {
namespace {

constexpr size_t kFinishedMemory = 64;
// Consistent datagrams from far away that make the window jump there.
constexpr size_t kJumpConfirmDatagrams = 4;
// Frames this many windows behind the newest can only be late stragglers; further back is a
// sender that started over.
constexpr int kLateWindows = 8;

// Signed distance from a to b on the 16-bit frame-id circle.
int Distance(uint16_t a, uint16_t b) {
  return static_cast<int16_t>(static_cast<uint16_t>(b - a));
}

}  // namespace

const char* RejectReasonName(RejectReason reason) {
  static const char* const kNames[] = {
      "tooShort",        "badMagicOrVersion", "badStreamType",  "badFlags",     "zeroTotal",
      "indexOutOfRange", "badPayloadLength",  "missingTrailer", "inconsistent", "duplicate",
      "stale",           "unconfirmed"};
  const int i = static_cast<int>(reason);
  return i >= 0 && i < static_cast<int>(RejectReason::Count) ? kNames[i] : "unknown";
}

uint64_t AssemblerStats::RejectedTotal() const {
  uint64_t total = 0;
  for (uint64_t n : rejected)
    total += n;
  return total;
}

FrameAssembler::FrameAssembler(FrameSink sink) : FrameAssembler(std::move(sink), Options{}) {}

FrameAssembler::FrameAssembler(FrameSink sink, const Options& options)
    : sink_(std::move(sink)), options_(options) {
  // Beyond half the id circle "behind" and "ahead" become ambiguous.
  options_.windowFrames = std::clamp<uint16_t>(options_.windowFrames, 1, 32767);
}

bool FrameAssembler::Validate(const uint8_t* datagram, size_t size, DatagramHeader* header) {
  if (datagram == nullptr || size < DatagramHeader::kSize) {
    Reject(RejectReason::TooShort);
    return false;
  }
  const std::optional<DatagramHeader> h = ParseDatagramHeader(datagram, size);
  if (!h) {
    Reject(RejectReason::BadMagicOrVersion);
    return false;
  }
  if (h->streamType != 1 && h->streamType != 2) {
    Reject(RejectReason::BadStreamType);
    return false;
  }
  if (h->fragmentTotal == 0) {
    Reject(RejectReason::ZeroTotal);
    return false;
  }
  if (h->fragmentIndex >= h->fragmentTotal) {
    Reject(RejectReason::IndexOutOfRange);
    return false;
  }
  const uint8_t parity = h->parityCount();
  const bool audio = h->streamType == 2;
  // Audio has no parity, keyframe bit or trailer; video parity leaves at least one data fragment
  // and stays within the erasure code's 256 blocks.
  if ((audio && (h->flags != 0)) || parity >= h->fragmentTotal ||
      (parity > 0 && h->fragmentTotal > fec::kMaxBlocks)) {
    Reject(RejectReason::BadFlags);
    return false;
  }
  const uint16_t dataCount = static_cast<uint16_t>(h->fragmentTotal - parity);
  const bool isData = h->fragmentIndex < dataCount;
  if (isData) {
    const bool last = h->fragmentIndex + 1 == dataCount;
    if (h->payloadLength == 0 || h->payloadLength > kFragmentBytes ||
        (!last && h->payloadLength != kFragmentBytes)) {
      Reject(RejectReason::BadPayloadLength);
      return false;
    }
    if (!audio && !h->hasSendTime()) {
      Reject(RejectReason::MissingTrailer);
      return false;
    }
  } else if (h->payloadLength != kParityPayloadBytes || h->hasSendTime()) {
    Reject(RejectReason::BadPayloadLength);
    return false;
  }
  const size_t expected = DatagramHeader::kSize + h->payloadLength + (h->hasSendTime() ? 4 : 0);
  if (size != expected) {
    Reject(size < expected && h->hasSendTime() && size == expected - 4
               ? RejectReason::MissingTrailer
               : RejectReason::BadPayloadLength);
    return false;
  }
  if (!isData) {
    const uint16_t lastLength = GetU16LE(datagram + DatagramHeader::kSize);
    if (lastLength == 0 || lastLength > kFragmentBytes) {
      Reject(RejectReason::BadPayloadLength);
      return false;
    }
  }
  *header = *h;
  return true;
}

const FrameAssembler::Stream::Finished* FrameAssembler::RecentlyFinished(const Stream& stream,
                                                                         uint16_t frameId) {
  for (const auto& finished : stream.finished) {
    if (finished.id == frameId)
      return &finished;
  }
  return nullptr;
}

void FrameAssembler::Push(const uint8_t* datagram, size_t size, uint32_t receiveTimeUs) {
  DatagramHeader h;
  if (!Validate(datagram, size, &h))
    return;
  Stream& stream = StreamFor(h.streamType);
  if (const Stream::Finished* finished = RecentlyFinished(stream, h.frameId)) {
    if (finished->delivered) {
      ++stats_.lateFragments;
    } else {
      Reject(RejectReason::Stale);
    }
    return;
  }
  if (FarFromWindow(stream, h.frameId)) {
    HoldOnProbation(stream, h, datagram, size, receiveTimeUs);
    return;
  }
  if (stream.seenAny && Distance(stream.newest, h.frameId) <= -options_.windowFrames) {
    Reject(RejectReason::Stale);
    return;
  }
  auto [it, created] = stream.pending.try_emplace(h.frameId);
  Pending& frame = it->second;
  if (created) {
    frame.first = h;
    frame.parityCount = h.parityCount();
    frame.dataCount = static_cast<uint16_t>(h.fragmentTotal - frame.parityCount);
  } else if (frame.first.fragmentTotal != h.fragmentTotal ||
             (frame.first.flags & ~DatagramHeader::kFlagSendTime) !=
                 (h.flags & ~DatagramHeader::kFlagSendTime) ||
             frame.first.timestampUs != h.timestampUs) {
    Reject(RejectReason::Inconsistent);
    return;
  }
  if (frame.fragments.count(h.fragmentIndex) != 0) {
    Reject(RejectReason::Duplicate);
    return;
  }
  const uint8_t* payload = datagram + DatagramHeader::kSize;
  const bool isData = h.fragmentIndex < frame.dataCount;
  // The last data fragment and every parity fragment state the frame's last length; a frame
  // whose statements disagree could only be rebuilt wrong.
  const bool statesLastLength = !isData || h.fragmentIndex + 1 == frame.dataCount;
  const uint16_t lastLength = isData ? h.payloadLength : GetU16LE(payload);
  if (statesLastLength && frame.lastDataLength != 0 && frame.lastDataLength != lastLength) {
    Reject(RejectReason::Inconsistent);
    return;
  }
  ++stats_.datagramsAccepted;
  if (statesLastLength)
    frame.lastDataLength = lastLength;
  if (isData) {
    ++frame.dataReceived;
    if (h.hasSendTime()) {
      const uint32_t sent = GetU32LE(payload + h.payloadLength);
      frame.lastSendTimeUs = frame.hasSendTime ? std::max(frame.lastSendTimeUs, sent) : sent;
      frame.hasSendTime = true;
      const auto delay = static_cast<int32_t>(receiveTimeUs - sent);
      if (delay >= 0) {
        ++stats_.delaySamples;
        stats_.delaySumUs += delay;
        stats_.delayMaxUs = std::max(stats_.delayMaxUs, static_cast<uint32_t>(delay));
      }
    }
    frame.fragments.emplace(h.fragmentIndex,
                            std::vector<uint8_t>(payload, payload + h.payloadLength));
  } else {
    frame.fragments.emplace(h.fragmentIndex,
                            std::vector<uint8_t>(payload + 2, payload + kParityPayloadBytes));
  }
  frame.bytes += h.payloadLength;
  bufferedBytes_ += h.payloadLength;
  AdvanceWindow(stream, h.frameId);
  TryComplete(stream, h.frameId);
  EnforceMemoryBound();
}

bool FrameAssembler::FarFromWindow(const Stream& stream, uint16_t frameId) const {
  if (!stream.seenAny)
    return false;
  const int d = Distance(stream.newest, frameId);
  const int lateSpan =
      std::min(kLateWindows * options_.windowFrames, 32768 - options_.windowFrames);
  return d >= options_.windowFrames || d < -lateSpan;
}

void FrameAssembler::HoldOnProbation(Stream& stream, const DatagramHeader& h,
                                     const uint8_t* datagram, size_t size, uint32_t receiveTimeUs) {
  Probation& p = stream.probation;
  if (!p.datagrams.empty() && std::abs(Distance(p.anchor, h.frameId)) >= options_.windowFrames)
    DiscardProbation(stream);  // not consistent with what was held: start over from this one
  if (p.datagrams.empty() || Distance(p.anchor, h.frameId) > 0)
    p.anchor = h.frameId;
  p.datagrams.emplace_back(datagram, datagram + size);
  p.receiveTimesUs.push_back(receiveTimeUs);
  if (p.datagrams.size() < kJumpConfirmDatagrams && !ProbationHoldsKeyframe(p, h.frameId))
    return;
  // Confirmed: the window moves there (giving up what it passes), and the held datagrams are
  // taken as if they came now.
  Probation held = std::move(p);
  p = Probation{};
  stream.newest = held.anchor;
  AdvanceWindow(stream, held.anchor);
  for (size_t i = 0; i < held.datagrams.size(); ++i)
    Push(held.datagrams[i].data(), held.datagrams[i].size(), held.receiveTimesUs[i]);
}

// Whether the held datagrams of `frameId` make a whole keyframe.
bool FrameAssembler::ProbationHoldsKeyframe(const Probation& probation, uint16_t frameId) {
  std::vector<uint16_t> indices;
  uint16_t dataCount = 0;
  for (const auto& d : probation.datagrams) {
    const auto h = ParseDatagramHeader(d.data(), d.size());
    if (!h || h->frameId != frameId || !h->keyframe())
      continue;
    dataCount = static_cast<uint16_t>(h->fragmentTotal - h->parityCount());
    if (std::find(indices.begin(), indices.end(), h->fragmentIndex) == indices.end())
      indices.push_back(h->fragmentIndex);
  }
  return dataCount > 0 && indices.size() >= dataCount;
}

void FrameAssembler::DiscardProbation(Stream& stream) {
  stats_.rejected[static_cast<size_t>(RejectReason::Unconfirmed)] +=
      stream.probation.datagrams.size();
  stream.probation = Probation{};
}

void FrameAssembler::AdvanceWindow(Stream& stream, uint16_t frameId) {
  if (!stream.seenAny || Distance(stream.newest, frameId) > 0) {
    stream.newest = frameId;
    stream.seenAny = true;
  }
  // Held datagrams the window has come close to were strays: the stream never jumped there.
  if (!stream.probation.datagrams.empty() &&
      std::abs(Distance(stream.newest, stream.probation.anchor)) < options_.windowFrames) {
    DiscardProbation(stream);
  }
  std::vector<uint16_t> expired;
  for (const auto& [id, frame] : stream.pending) {
    if (Distance(id, stream.newest) >= options_.windowFrames)
      expired.push_back(id);
  }
  for (uint16_t id : expired)
    Finish(stream, id, false);
}

void FrameAssembler::TryComplete(Stream& stream, uint16_t frameId) {
  auto it = stream.pending.find(frameId);
  if (it == stream.pending.end())
    return;
  Pending& frame = it->second;
  if (frame.fragments.size() < frame.dataCount)
    return;
  const bool allData = frame.dataReceived == frame.dataCount;
  AssembledFrame out;
  out.streamType = frame.first.streamType;
  out.frameId = frameId;
  out.keyframe = frame.first.keyframe();
  out.timestampUs = frame.first.timestampUs;
  out.hasSendTime = frame.hasSendTime;
  out.lastSendTimeUs = frame.lastSendTimeUs;
  if (allData) {
    out.data.reserve(static_cast<size_t>(frame.dataCount - 1) * kFragmentBytes +
                     frame.lastDataLength);
    for (uint16_t i = 0; i < frame.dataCount; ++i) {
      const auto& part = frame.fragments[i];
      out.data.insert(out.data.end(), part.begin(), part.end());
    }
  } else if (!Rebuild(frame, &out.data)) {
    // The blocks were checked on arrival, so more of them cannot help.
    Finish(stream, frameId, false);
    return;
  } else {
    out.rebuiltByParity = true;
    ++stats_.framesRebuiltByParity;
  }
  ++stats_.framesComplete;
  Finish(stream, frameId, true);
  if (sink_)
    sink_(out);
}

bool FrameAssembler::Rebuild(Pending& frame, std::vector<uint8_t>* out) {
  const int n = frame.dataCount;
  if (frame.lastDataLength == 0 || n + frame.parityCount > fec::kMaxBlocks)
    return false;
  // Exactly n blocks, decoded where they lie: every data fragment received (the short last one
  // padded with zeros, as the sender coded it), then parity fragments to fill the gaps.
  std::vector<fec::Block> blocks;
  blocks.reserve(static_cast<size_t>(n));
  for (auto& [index, payload] : frame.fragments) {
    if (static_cast<int>(blocks.size()) == n)
      break;
    payload.resize(kFragmentBytes, 0);
    blocks.push_back(fec::Block{payload.data(), index});
  }
  const fec::CodeShape shape{n, frame.parityCount, kFragmentBytes};
  if (!fec::Decode(shape, blocks))
    return false;
  std::vector<const uint8_t*> ordered(static_cast<size_t>(n), nullptr);
  for (const fec::Block& block : blocks) {
    if (block.index >= n || ordered[block.index] != nullptr)
      return false;
    ordered[block.index] = block.data;
  }
  out->clear();
  out->reserve(static_cast<size_t>(n - 1) * kFragmentBytes + frame.lastDataLength);
  for (int i = 0; i < n; ++i) {
    const size_t length = i + 1 == n ? frame.lastDataLength : kFragmentBytes;
    out->insert(out->end(), ordered[i], ordered[i] + length);
  }
  return true;
}

void FrameAssembler::Finish(Stream& stream, uint16_t frameId, bool delivered) {
  auto it = stream.pending.find(frameId);
  if (it != stream.pending.end()) {
    bufferedBytes_ -= it->second.bytes;
    stream.pending.erase(it);
  }
  if (!delivered)
    ++stats_.framesLost;
  stream.finished.push_back(Stream::Finished{frameId, delivered});
  if (stream.finished.size() > kFinishedMemory)
    stream.finished.pop_front();
}

void FrameAssembler::EnforceMemoryBound() {
  while (bufferedBytes_ > options_.maxBufferedBytes) {
    // Give up on the oldest pending frame of whichever stream holds the most.
    Stream& stream =
        streams_[0].pending.size() >= streams_[1].pending.size() ? streams_[0] : streams_[1];
    if (stream.pending.empty())
      break;
    uint16_t oldest = stream.pending.begin()->first;
    for (const auto& [id, frame] : stream.pending) {
      if (Distance(id, oldest) > 0)
        oldest = id;
    }
    Finish(stream, oldest, false);
  }
}

void FrameAssembler::Flush() {
  for (Stream& stream : streams_) {
    DiscardProbation(stream);
    std::vector<uint16_t> ids;
    for (const auto& [id, frame] : stream.pending)
      ids.push_back(id);
    for (uint16_t id : ids)
      Finish(stream, id, false);
  }
}

}  // namespace Sorvane::receiver
