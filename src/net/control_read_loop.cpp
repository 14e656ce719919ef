// One connection's read thread: pairing, then every client message until the connection ends.
#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/thread_guard.h"
#include "net/control_reader.h"
#include "net/network_transport.h"
#include "net/socket_byte_source.h"
#include "net/wire_opcodes.h"

namespace Sorvane {

void NetworkTransport::ControlReadLoop(ConnectionPtr connection) {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kNetwork, "control read thread");
  guard.Run([&] {
    if (DoPairingHandshake(connection).empty()) {
      Log(channels::kNetwork, kLogInfo, "control: pair handshake failed fd=%lld — dropping",
          connection->Fd());
    } else if (Promote(connection)) {
      if (newClientHandler_)
        newClientHandler_();
      const bool active = AnyInstanceActive();
      transmitState_.Reset(active);
      SendTransmitState(active);
      ServeControlMessages(connection);
    } else {
      Log(channels::kNetwork, kLogInfo,
          "control: fd=%lld paired after a newer connection took its place — dropping",
          connection->Fd());
    }
  });
  EndReadLoop(connection);
  connection->readerDone.store(true);
}

// The served connection stays open (its heartbeat goes on) until a newcomer replaces it; any
// other connection whose loop ended is closed at once.
void NetworkTransport::EndReadLoop(const ConnectionPtr& connection) {
  net::SocketHandle current = net::kInvalidSocket;
  if (ClearPeerIfCurrent(*connection, &current)) {
    Log(channels::kNetwork, kLogInfo, "control read loop exit fd=%lld — peer cleared",
        connection->Fd());
    return;
  }
  Log(channels::kNetwork, kLogInfo,
      "control read loop exit fd=%lld — stale (current=%lld), leaving peer state intact",
      connection->Fd(), static_cast<long long>(current));
  ForgetPending(connection);
  Abandon(*connection);
}

void NetworkTransport::ServeControlMessages(const ConnectionPtr& connection) {
  net::SocketByteSource source(connection->socket,
                               [this, &connection] { return ConnectionLive(*connection); });
  while (running_.load()) {
    const wire::ControlReadResult result = wire::ReadClientMessage(source);
    switch (result.status) {
      case wire::ControlReadStatus::kMessage:
        // Commands still buffered from a connection that was dropped or replaced are not the
        // paired phone's any more.
        if (!ConnectionLive(*connection))
          return;
        if (controlHandler_) {
          controlHandler_(result.opcode, result.payload.data(), result.payload.size());
        }
        continue;
      case wire::ControlReadStatus::kClosed:
        Log(channels::kNetwork, kLogInfo, "control: client disconnected");
        return;
      case wire::ControlReadStatus::kTruncated:
        Log(channels::kNetwork, kLogInfo, "%s", result.truncatedText);
        return;
      case wire::ControlReadStatus::kUnknownOpcode:
        Log(channels::kNetwork, kLogInfo, "control: unknown opcode 0x%02x — dropping client",
            result.opcode);
        return;
    }
  }
}

}  // namespace Sorvane
