#include "net/udp_send_health.h"

#include "diag/log_channels.h"
#include "diag/socket_error.h"
#include "net/socket_ops.h"

namespace Sorvane {

bool UdpSendHealth::Record(int result, uint16_t port) {
  if (result >= 0) {
    consecutiveErrors_.store(0);
    return false;
  }
  uint64_t held = 0;
  if (result == net::kSendWouldBlock) {
    if (fullLines_.Admit(&held)) {
      Log(channels::kNetwork, kLogDebug, "UDP drop — kernel buffer full (%llu more since)",
          static_cast<unsigned long long>(held));
    }
    return false;
  }
  if (errorLines_.Admit(&held)) {
    Log(channels::kNetwork, kLogError, "sendto port=%u failed: %s (%llu more failures since)", port,
        SocketErrorText().c_str(), static_cast<unsigned long long>(held));
  }
  if (consecutiveErrors_.fetch_add(1) + 1 != kErrorsBeforeKeyframe)
    return false;
  Log(channels::kNetwork, kLogInfo, "UDP: %d consecutive send failures — requesting IDR",
      static_cast<int>(kErrorsBeforeKeyframe));
  return true;
}

}  // namespace Sorvane
