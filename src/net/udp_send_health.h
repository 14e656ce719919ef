#pragma once
#include <atomic>
#include <cstdint>

#include "base/clock.h"
#include "net/log_limiter.h"

namespace Sorvane {

// What the outcome of each datagram send means for the stream. Five real send errors in a row ask
// for one keyframe (the phone has lost pictures); a success re-arms the request. A full kernel
// buffer counts for nothing: the datagram is dropped, and a keyframe, being bigger, would only
// fill the buffer more. Failures are logged at most once a second with the number held back.
class UdpSendHealth {
 public:
  static constexpr uint32_t kErrorsBeforeKeyframe = 5;

  explicit UdpSendHealth(const Clock& clock)
      : errorLines_(clock, kLogSpacingNs), fullLines_(clock, kLogSpacingNs) {}

  // `result` is SendTo's: the byte count, net::kSendWouldBlock, or -1 with the error still set.
  // True when the caller should ask for a keyframe now.
  bool Record(int result, uint16_t port);

 private:
  static constexpr int64_t kLogSpacingNs = 1'000'000'000;
  std::atomic<uint32_t> consecutiveErrors_{0};
  LogLimiter errorLines_;
  LogLimiter fullLines_;
};

}  // namespace Sorvane
