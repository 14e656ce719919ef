#include <winsock2.h>
#include <ws2tcpip.h>

#include "transport/loopback_alias.h"

namespace Sorvane::test {
namespace {

sockaddr_in Address(const char* text, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, text, &address.sin_addr);
  return address;
}

// A socket of `type` bound to `local`:`port`, or INVALID_SOCKET.
SOCKET BoundSocket(int type, const char* local, uint16_t port) {
  const SOCKET s = ::socket(AF_INET, type, 0);
  const sockaddr_in address = Address(local, port);
  if (s != INVALID_SOCKET &&
      ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return s;
  }
  if (s != INVALID_SOCKET)
    ::closesocket(s);
  return INVALID_SOCKET;
}

}  // namespace

net::SocketHandle ConnectTcpFrom(const char* local, uint16_t port) {
  const SOCKET s = BoundSocket(SOCK_STREAM, local, 0);
  if (s == INVALID_SOCKET)
    return net::kInvalidSocket;
  const sockaddr_in to = Address("127.0.0.1", port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    ::closesocket(s);
    return net::kInvalidSocket;
  }
  return static_cast<net::SocketHandle>(s);
}

net::SocketHandle CreateUdpReceiverOn(const char* local, uint16_t port) {
  const SOCKET s = BoundSocket(SOCK_DGRAM, local, port);
  return s == INVALID_SOCKET ? net::kInvalidSocket : static_cast<net::SocketHandle>(s);
}

}  // namespace Sorvane::test
