#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "net/socket_ops.h"

namespace Sorvane {

// One accepted control connection. Whoever sends on it or waits on it holds it, and its socket is
// closed only when the last holder lets go, so no thread ever uses a number the system has given
// to another socket. Shutting it down wakes every thread blocked on it.
struct ControlConnection {
  ControlConnection(net::SocketHandle s, uint32_t ipv4, int64_t accepted)
      : socket(s), address(ipv4), acceptedNs(accepted) {}
  ~ControlConnection() { net::CloseSocket(socket); }
  ControlConnection(const ControlConnection&) = delete;
  ControlConnection& operator=(const ControlConnection&) = delete;

  long long Fd() const { return static_cast<long long>(socket); }

  const net::SocketHandle socket;
  const uint32_t address;    // IPv4, network byte order
  const int64_t acceptedNs;  // on the transport's clock
  std::mutex sendLock;       // keeps each message on this connection whole
  // A pairing cancel, a failed send or Stop ended it: no thread waits on it any more.
  std::atomic<bool> abandoned{false};
  std::atomic<bool> readerDone{false};
  std::atomic<bool> heartbeatDone{false};
};

}  // namespace Sorvane
