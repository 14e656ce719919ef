#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A socket of `type` bound to `local`:`port`, or -1.
int BoundSocket(int type, const char* local, uint16_t port) {
  const int fd = ::socket(AF_INET, type, 0);
  const sockaddr_in address = Address(local, port);
  if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
    return fd;
  if (fd >= 0)
    ::close(fd);
  return -1;
}

}  // namespace

net::SocketHandle ConnectTcpFrom(const char* local, uint16_t port) {
  const int fd = BoundSocket(SOCK_STREAM, local, 0);
  if (fd < 0)
    return net::kInvalidSocket;
  const sockaddr_in to = Address("127.0.0.1", port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return net::kInvalidSocket;
  }
  return fd;
}

net::SocketHandle CreateUdpReceiverOn(const char* local, uint16_t port) {
  const int fd = BoundSocket(SOCK_DGRAM, local, port);
  return fd < 0 ? net::kInvalidSocket : fd;
}

}  // namespace Sorvane::test
