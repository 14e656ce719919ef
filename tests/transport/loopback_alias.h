#pragma once
#include <cstdint>

#include "net/socket_ops.h"

namespace Sorvane::test {

// A second loopback address: a phone that connects from it and listens only on it proves that
// datagrams go to the phone's own address, not merely to this machine.
inline constexpr const char* kLoopbackAlias = "127.0.0.2";

// A control connection to 127.0.0.1:`port` whose local end is `local`; invalid on failure.
net::SocketHandle ConnectTcpFrom(const char* local, uint16_t port);
// A datagram receiver bound to `local`:`port` alone; invalid on failure.
net::SocketHandle CreateUdpReceiverOn(const char* local, uint16_t port);

}  // namespace Sorvane::test
