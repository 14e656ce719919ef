#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Thin socket wrappers used only by the network transport: one portable interface, one file per
// platform (Winsock 2 / BSD sockets).
namespace Sorvane::net {

using SocketHandle = int64_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Counted per process: the first user starts the socket library, the last one stops it.
void SocketLibraryAcquire();
void SocketLibraryRelease();

// IPv4 TCP listener on all interfaces, SO_REUSEADDR, backlog 1; kInvalidSocket on failure.
SocketHandle CreateTcpListener(uint16_t port);
// Non-blocking IPv4 UDP socket with a 4 MiB send buffer; kInvalidSocket on failure.
SocketHandle CreateUdpSender();

struct AcceptedPeer {
  SocketHandle socket = kInvalidSocket;
  uint32_t address = 0;  // IPv4, network byte order
  uint16_t port = 0;     // host byte order
};
AcceptedPeer AcceptClient(SocketHandle listener);

void CloseSocket(SocketHandle socket);
// Makes a blocked receive on `socket` return (used to abandon a pairing wait).
void ShutdownReceive(SocketHandle socket);
// Tells the peer no more bytes will come (it reads the end of the stream); receiving goes on.
void ShutdownSend(SocketHandle socket);
// Ends both directions: blocked sends and receives return at once. The handle stays valid (and
// its number cannot be reused) until CloseSocket, so threads still holding it stay safe.
void ShutdownBoth(SocketHandle socket);
// A send that cannot move its bytes within `timeoutMs` fails instead of blocking on.
void SetSendTimeout(SocketHandle socket, int timeoutMs);
// TCP_NODELAY, keep-alive after 10 s idle with probes 5 s apart, 3 probes.
void SetConnectionOptions(SocketHandle socket);

// Loop until all n bytes moved; false as soon as a call returns 0 or less.
bool ReceiveExactly(SocketHandle socket, void* buffer, size_t n);
// One receive: the byte count, 0 when the peer closed, -1 on error.
int ReceiveSome(SocketHandle socket, void* buffer, size_t n);
bool SendExactly(SocketHandle socket, const void* buffer, size_t n);

// True when `socket` is readable within `timeoutMs`.
bool WaitReadable(SocketHandle socket, int timeoutMs);

inline constexpr int kSendWouldBlock = -2;
// One datagram: the byte count sent, kSendWouldBlock when the kernel buffer is full, -1 on error.
int SendTo(SocketHandle socket, const void* data, size_t length, uint32_t address, uint16_t port);

// Dotted IPv4 text of a network-order address.
std::string AddressToText(uint32_t address);
// The local port a socket is bound to (the system's choice after binding port 0); 0 on failure.
uint16_t LocalPort(SocketHandle socket);
// The IPv4 address (network order) a connected socket talks to; 0 on failure.
uint32_t RemoteAddress(SocketHandle socket);

// The client's side (the reference receiver and tests).
// A blocking TCP connection to a dotted IPv4 address; kInvalidSocket on failure.
SocketHandle ConnectTcp(const std::string& address, uint16_t port);
// A UDP socket bound to `port` on all interfaces with a large receive buffer.
SocketHandle CreateUdpReceiver(uint16_t port);
// One datagram into `buffer`: its length, 0 when none came within `timeoutMs`, -1 on error.
int ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t capacity, int timeoutMs);
// The same, also giving the sender's IPv4 address (network order) when a datagram came.
int ReceiveDatagramFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, int timeoutMs,
                        uint32_t* from);

}  // namespace Sorvane::net
