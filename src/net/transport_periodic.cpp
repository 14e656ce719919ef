// The transport's clocked threads: each connection's heartbeat and the transmit-state poll.
#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/thread_guard.h"
#include "net/network_transport.h"

namespace Sorvane {

// A fixed-rate schedule from the moment the connection was accepted, newcomers included. The
// wait ends early once the connection is replaced or closed, so nothing waits on its thread.
void NetworkTransport::HeartbeatLoop(ConnectionPtr connection) {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kNetwork, "heartbeat thread");
  int ticks = 0;
  guard.Run([&] {
    Log(channels::kNetwork, kLogInfo, "HeartbeatLoop: START fd=%lld", connection->Fd());
    int64_t deadline = connection->acceptedNs + 1'000'000'000;
    const auto live = [this, &connection] { return ConnectionLive(*connection); };
    while (SleepUntil(deadline, live)) {
      deadline += 1'000'000'000;
      ++ticks;
      const bool ok = SendHeartbeat(*connection);
      Log(channels::kNetwork, kLogDebug, "HeartbeatLoop: tick=%d fd=%lld send=%{public}s", ticks,
          connection->Fd(), ok ? "ok" : "FAIL");
      if (!ok)
        return;
    }
    if (running_.load()) {
      Log(channels::kNetwork, kLogInfo,
          "HeartbeatLoop: EXIT fd=%lld — replaced by fd=%lld (tick=%d)", connection->Fd(),
          static_cast<long long>(servedSocket_.load()), ticks);
    }
  });
  Log(channels::kNetwork, kLogInfo, "HeartbeatLoop: END fd=%lld after %d ticks", connection->Fd(),
      ticks);
  connection->heartbeatDone.store(true);
}

void NetworkTransport::TransmitStatePollLoop() {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kNetwork, "transmit-state poll thread");
  Log(channels::kNetwork, kLogInfo, "TransmitStatePollLoop: START");
  guard.Run([&] {
    while (running_.load()) {
      {
        std::unique_lock<std::mutex> lock(pollMutex_);
        pollCv_.wait_for(lock, std::chrono::seconds(1), [this] { return !running_.load(); });
      }
      if (!running_.load())
        break;
      const auto edge = transmitState_.Poll(AnyInstanceActive());
      if (!edge)
        continue;
      if (edge->active) {
        Log(channels::kNetwork, kLogInfo, "transmit: edge inactive → active");
      } else {
        Log(channels::kNetwork, kLogInfo, "transmit: edge active → inactive after %d ticks",
            edge->inactivePolls);
      }
      SendTransmitState(edge->active);
      AdvertiseTransmitState(edge->active);
    }
  });
  Log(channels::kNetwork, kLogInfo, "TransmitStatePollLoop: END");
}

}  // namespace Sorvane
