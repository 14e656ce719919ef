#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/socket_ops.h"

namespace Sorvane::net {
namespace {

int Fd(SocketHandle socket) {
  return static_cast<int>(socket);
}

void SetInt(int fd, int level, int option, int value) {
  ::setsockopt(fd, level, option, &value, sizeof value);
}

}  // namespace

void SocketLibraryAcquire() {}
void SocketLibraryRelease() {}

SocketHandle CreateTcpListener(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0)
    return kInvalidSocket;
  SetInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 1) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return kInvalidSocket;
  }
  return fd;
}

SocketHandle CreateUdpSender() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
  if (fd < 0)
    return kInvalidSocket;
  SetInt(fd, SOL_SOCKET, SO_SNDBUF, 4 * 1024 * 1024);
  return fd;
}

AcceptedPeer AcceptClient(SocketHandle listener) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int fd =
      ::accept4(Fd(listener), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0)
    return {};
  return AcceptedPeer{fd, address.sin_addr.s_addr, ntohs(address.sin_port)};
}

// Shut down first: on Linux, close() alone does not wake a thread blocked in recv() on the same
// socket, and the transport relies on that to end a replaced connection's read loop.
void CloseSocket(SocketHandle socket) {
  if (socket == kInvalidSocket)
    return;
  ::shutdown(Fd(socket), SHUT_RDWR);
  ::close(Fd(socket));
}

void ShutdownReceive(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::shutdown(Fd(socket), SHUT_RD);
}

void ShutdownSend(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::shutdown(Fd(socket), SHUT_WR);
}

void ShutdownBoth(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::shutdown(Fd(socket), SHUT_RDWR);
}

void SetSendTimeout(SocketHandle socket, int timeoutMs) {
  const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

void SetConnectionOptions(SocketHandle socket) {
  const int fd = Fd(socket);
  SetInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetInt(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetInt(fd, IPPROTO_TCP, TCP_KEEPIDLE, 10);
  SetInt(fd, IPPROTO_TCP, TCP_KEEPINTVL, 5);
  SetInt(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
}

bool ReceiveExactly(SocketHandle socket, void* buffer, size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    const ssize_t got = ::recv(Fd(socket), p, n, 0);
    if (got <= 0) {
      if (got < 0 && errno == EINTR)
        continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

int ReceiveSome(SocketHandle socket, void* buffer, size_t n) {
  for (;;) {
    const ssize_t got = ::recv(Fd(socket), buffer, n, 0);
    if (got >= 0 || errno != EINTR)
      return got < 0 ? -1 : static_cast<int>(got);
  }
}

bool SendExactly(SocketHandle socket, const void* buffer, size_t n) {
  const auto* p = static_cast<const char*>(buffer);
  while (n > 0) {
    // MSG_NOSIGNAL: a vanished peer must not kill the host process with SIGPIPE.
    const ssize_t sent = ::send(Fd(socket), p, n, MSG_NOSIGNAL);
    if (sent <= 0) {
      if (sent < 0 && errno == EINTR)
        continue;
      return false;
    }
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
  pollfd entry{Fd(socket), POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) > 0 && (entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

int SendTo(SocketHandle socket, const void* data, size_t length, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  const ssize_t sent =
      ::sendto(Fd(socket), data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (sent >= 0)
    return static_cast<int>(sent);
  return (errno == EAGAIN || errno == EWOULDBLOCK) ? kSendWouldBlock : -1;
}

std::string AddressToText(uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &in, text, sizeof text) == nullptr)
    return {};
  return text;
}

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

uint32_t RemoteAddress(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return address.sin_addr.s_addr;
}

SocketHandle ConnectTcp(const std::string& address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
    return kInvalidSocket;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0)
    return kInvalidSocket;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return kInvalidSocket;
  }
  SetInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  return fd;
}

SocketHandle CreateUdpReceiver(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0)
    return kInvalidSocket;
  SetInt(fd, SOL_SOCKET, SO_REUSEADDR, 1);
  SetInt(fd, SOL_SOCKET, SO_RCVBUF, 8 * 1024 * 1024);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

int ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity, int timeoutMs) {
  uint32_t from = 0;
  return ReceiveDatagramFrom(socket, buffer, capacity, timeoutMs, &from);
}

int ReceiveDatagramFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, int timeoutMs,
                        uint32_t* from) {
  if (!WaitReadable(socket, timeoutMs))
    return 0;
  sockaddr_in sender{};
  socklen_t length = sizeof sender;
  const ssize_t got =
      ::recvfrom(Fd(socket), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&sender), &length);
  if (got < 0)
    return -1;
  *from = sender.sin_addr.s_addr;
  return static_cast<int>(got);
}

}  // namespace Sorvane::net
