#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace Sorvane {

enum class StreamKind : uint8_t { Video = 1, Audio = 2 };

inline constexpr size_t kFragmentBytes = 1440;
inline constexpr size_t kMaxFrameBytes = 94'370'400;  // 65535 fragments
inline constexpr size_t kMaxFragmentTotal = 65535;
inline constexpr size_t kParityBelowFragments = 256;
inline constexpr size_t kMaxAnnouncedParity = 63;  // six bits of the flags byte
inline constexpr size_t kParityPayloadBytes = 2 + kFragmentBytes;

// Receives each finished datagram; the bytes are valid during the call only.
using DatagramSink = std::function<void(const uint8_t* data, size_t length)>;
// Datagrams as the pacer queues them.
using DatagramList = std::vector<std::vector<uint8_t>>;

// Parity fragments for a video frame of `dataFragments` fragments: ten per cent rounded up, at
// most 63, with data plus parity at most 255; none from 256 data fragments on.
uint32_t VideoParityFor(size_t dataFragments);

// How many datagrams BuildDatagrams would emit (0 for a length it refuses).
size_t CountDatagrams(size_t length, uint8_t parity);

// Cuts one frame or audio packet into datagrams: data fragments in index order, then parity
// fragments. `sequence` is the first of a run the caller
// reserved. False, emitting nothing, for a length of 0, above kMaxFrameBytes, or a total above
// 65535 fragments. The headers announce `parity` (its low six bits, as callers keep it at most
// 63) even when the shape leaves the code's 256 blocks, so a receiver simply never sees those
// fragments.
bool BuildDatagrams(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                    uint32_t sequence, uint32_t timestampUs, const uint8_t* data, size_t length,
                    const DatagramSink& sink, bool sendTimeTrailer);

// The same, appending each datagram to `out`: every byte is written once, data straight from the
// frame, so the list can go to the pacer as it is.
bool BuildDatagrams(StreamKind kind, bool keyframe, uint8_t parity, uint16_t frameId,
                    uint32_t sequence, uint32_t timestampUs, const uint8_t* data, size_t length,
                    DatagramList& out, bool sendTimeTrailer);

// The low 32 bits of the monotonic clock in microseconds (the send-time trailer's clock).
uint32_t SendTimeNowUs();

}  // namespace Sorvane
