// What the transport sends: control messages to the paired phone, pairing replies and heartbeats
// to a connection of their own, and datagrams to the paired phone's address.
#include "diag/log_channels.h"
#include "diag/socket_error.h"
#include "net/network_transport.h"
#include "net/wire_opcodes.h"

namespace Sorvane {

using net::kInvalidSocket;
using net::SocketHandle;

bool NetworkTransport::SendControl(uint8_t opcode, const uint8_t* payload, size_t length) {
  ConnectionPtr connection;
  {
    // The trust flag and the connection it belongs to are read as one.
    std::lock_guard<std::mutex> lock(peerLock_);
    if (!wire::MaySendBeforePairing(opcode) && !peerKnown_.load()) {
      Log(channels::kNetwork, kLogDebug, "SendControl opcode=0x%02x: SKIP — peer not known",
          opcode);
      return false;
    }
    connection = served_;
  }
  if (!connection || connection->abandoned.load()) {
    Log(channels::kNetwork, kLogDebug, "SendControl opcode=0x%02x: SKIP — fd invalid", opcode);
    return false;
  }
  std::lock_guard<std::mutex> lock(connection->sendLock);
  return WriteControlMessage(*connection, opcode, payload, length);
}

bool NetworkTransport::SendPairingReply(const ConnectionPtr& connection, uint8_t opcode,
                                        const uint8_t* payload, size_t length) {
  std::lock_guard<std::mutex> lock(connection->sendLock);
  if (pendingSocket_.load() != connection->socket || connection->abandoned.load()) {
    Log(channels::kNetwork, kLogInfo,
        "pair: reply opcode=0x%02x not sent — fd=%lld was replaced meanwhile", opcode,
        connection->Fd());
    return false;
  }
  return WriteControlMessage(*connection, opcode, payload, length);
}

bool NetworkTransport::SendHeartbeat(ControlConnection& connection) {
  std::lock_guard<std::mutex> lock(connection.sendLock);
  if (!ConnectionLive(connection))
    return false;
  return WriteControlMessage(connection, wire::kHeartbeat, nullptr, 0);
}

bool NetworkTransport::WriteControlMessage(ControlConnection& connection, uint8_t opcode,
                                           const uint8_t* payload, size_t length) {
  const bool sent =
      net::SendExactly(connection.socket, &opcode, 1) &&
      (payload == nullptr || length == 0 || net::SendExactly(connection.socket, payload, length));
  if (sent)
    return true;
  // A message cut off part-way leaves the stream unreadable, and a phone that stopped reading
  // would block the next sender too: either way the connection is over.
  Log(channels::kNetwork, kLogInfo,
      "SendControl opcode=0x%02x fd=%lld failed or timed out: %s — dropping client", opcode,
      connection.Fd(), SocketErrorText().c_str());
  {
    std::lock_guard<std::mutex> peer(peerLock_);
    if (servedSocket_.load() == connection.socket)
      peerKnown_.store(false);  // nothing more goes out until the read loop has ended
  }
  Abandon(connection);
  return false;
}

void NetworkTransport::SendTransmitState(bool active) {
  const uint8_t value = active ? 1 : 0;
  SendControl(wire::kTransmitState, &value, 1);
}

bool NetworkTransport::SendVideo(const uint8_t* data, size_t length) {
  return SendDatagram(data, length, options_.videoPort);
}

bool NetworkTransport::SendAudio(const uint8_t* data, size_t length) {
  return SendDatagram(data, length, options_.audioPort);
}

bool NetworkTransport::SendDatagram(const uint8_t* data, size_t length, uint16_t port) {
  int sent = 0;
  {
    // Flag, address and socket as one: a replacement cannot slip a datagram to an unpaired peer,
    // and Stop cannot close the socket under the send (non-blocking, so the hold is short).
    std::lock_guard<std::mutex> lock(peerLock_);
    const SocketHandle udp = udpSocket_.load();
    if (!peerKnown_.load() || !served_ || udp == kInvalidSocket)
      return false;
    sent = net::SendTo(udp, data, length, served_->address, port);
  }
  if (udpHealth_.Record(sent, port) && udpFailureHandler_)
    udpFailureHandler_();
  return sent >= 0;
}

}  // namespace Sorvane
