#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2
#include <mstcpip.h>

#include <atomic>
#include <mutex>

#include "net/socket_ops.h"

namespace Sorvane::net {
namespace {

SOCKET Raw(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

std::mutex gStartupLock;
int gUsers = 0;  // guarded by gStartupLock

void SetInt(SOCKET s, int level, int option, int value) {
  ::setsockopt(s, level, option, reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

void SocketLibraryAcquire() {
  std::lock_guard<std::mutex> lock(gStartupLock);
  if (gUsers++ == 0) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
  }
}

void SocketLibraryRelease() {
  std::lock_guard<std::mutex> lock(gStartupLock);
  if (gUsers > 0 && --gUsers == 0)
    WSACleanup();
}

SocketHandle CreateTcpListener(uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return kInvalidSocket;
  SetInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 1) != 0) {
    const int saved = WSAGetLastError();
    ::closesocket(s);
    WSASetLastError(saved);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

SocketHandle CreateUdpSender() {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return kInvalidSocket;
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  SetInt(s, SOL_SOCKET, SO_SNDBUF, 4 * 1024 * 1024);
  return static_cast<SocketHandle>(s);
}

AcceptedPeer AcceptClient(SocketHandle listener) {
  sockaddr_in address{};
  int length = sizeof address;
  const SOCKET s = ::accept(Raw(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET)
    return {};
  return AcceptedPeer{static_cast<SocketHandle>(s), address.sin_addr.s_addr,
                      ntohs(address.sin_port)};
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::closesocket(Raw(socket));
}

void ShutdownReceive(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::shutdown(Raw(socket), SD_RECEIVE);
}

void ShutdownSend(SocketHandle socket) {
  if (socket != kInvalidSocket)
    ::shutdown(Raw(socket), SD_SEND);
}

void ShutdownBoth(SocketHandle socket) {
  if (socket == kInvalidSocket)
    return;
  // Each direction on its own: under Wine only SD_RECEIVE wakes a receive blocked in another
  // thread.
  ::shutdown(Raw(socket), SD_RECEIVE);
  ::shutdown(Raw(socket), SD_SEND);
}

void SetSendTimeout(SocketHandle socket, int timeoutMs) {
  const DWORD timeout = static_cast<DWORD>(timeoutMs);
  ::setsockopt(Raw(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
}

void SetConnectionOptions(SocketHandle socket) {
  const SOCKET s = Raw(socket);
  SetInt(s, IPPROTO_TCP, TCP_NODELAY, 1);
  tcp_keepalive keepalive{1, 10000, 5000};
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned, nullptr,
             nullptr);
#ifdef TCP_KEEPCNT
  SetInt(s, IPPROTO_TCP, TCP_KEEPCNT, 3);
#endif
}

bool ReceiveExactly(SocketHandle socket, void* buffer, size_t n) {
  auto* p = static_cast<char*>(buffer);
  while (n > 0) {
    const int got = ::recv(Raw(socket), p, static_cast<int>(n), 0);
    if (got <= 0)
      return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

int ReceiveSome(SocketHandle socket, void* buffer, size_t n) {
  const int got = ::recv(Raw(socket), static_cast<char*>(buffer), static_cast<int>(n), 0);
  return got < 0 ? -1 : got;
}

bool SendExactly(SocketHandle socket, const void* buffer, size_t n) {
  const auto* p = static_cast<const char*>(buffer);
  while (n > 0) {
    const int sent = ::send(Raw(socket), p, static_cast<int>(n), 0);
    if (sent <= 0)
      return false;
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(socket), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

int SendTo(SocketHandle socket, const void* data, size_t length, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  const int sent = ::sendto(Raw(socket), static_cast<const char*>(data), static_cast<int>(length),
                            0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (sent != SOCKET_ERROR)
    return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kSendWouldBlock : -1;
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
  int length = sizeof address;
  if (::getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return ntohs(address.sin_port);
}

uint32_t RemoteAddress(SocketHandle socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getpeername(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  return address.sin_addr.s_addr;
}

SocketHandle ConnectTcp(const std::string& address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
    return kInvalidSocket;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET)
    return kInvalidSocket;
  if (::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    const int saved = WSAGetLastError();
    ::closesocket(s);
    WSASetLastError(saved);
    return kInvalidSocket;
  }
  SetInt(s, IPPROTO_TCP, TCP_NODELAY, 1);
  return static_cast<SocketHandle>(s);
}

SocketHandle CreateUdpReceiver(uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return kInvalidSocket;
  SetInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
  SetInt(s, SOL_SOCKET, SO_RCVBUF, 8 * 1024 * 1024);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
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
  int length = sizeof sender;
  const int got =
      ::recvfrom(Raw(socket), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                 reinterpret_cast<sockaddr*>(&sender), &length);
  if (got == SOCKET_ERROR)
    return -1;
  *from = sender.sin_addr.s_addr;
  return got;
}

}  // namespace Sorvane::net
