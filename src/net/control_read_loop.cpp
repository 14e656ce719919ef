// One connection's read thread: pairing, then every client message until the connection ends.
#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "net/control_reader.h"
#include "net/network_transport.h"
#include "net/socket_byte_source.h"
#include "net/wire_opcodes.h"

namespace Sorvane {

void NetworkTransport::ControlReadLoop(net::SocketHandle socket) {
  PrepareThreadForCrashes();
  if (DoPairingHandshake(socket).empty()) {
    Log(channels::kNetwork, kLogInfo, "control: pair handshake failed fd=%lld — dropping",
        static_cast<long long>(socket));
  } else if (MarkPaired(socket)) {
    if (newClientHandler_)
      newClientHandler_();
    const bool active = AnyInstanceActive();
    transmitState_.Reset(active);
    SendTransmitState(active);
    ServeControlMessages(socket);
  }
  net::SocketHandle current = net::kInvalidSocket;
  if (ClearPeerIfCurrent(socket, &current)) {
    Log(channels::kNetwork, kLogInfo, "control read loop exit fd=%lld — peer cleared",
        static_cast<long long>(socket));
  } else {
    Log(channels::kNetwork, kLogInfo,
        "control read loop exit fd=%lld — stale (current=%lld), leaving peer state intact",
        static_cast<long long>(socket), static_cast<long long>(current));
  }
}

void NetworkTransport::ServeControlMessages(net::SocketHandle socket) {
  net::SocketByteSource source(socket, [this, socket] { return ConnectionLive(socket); });
  while (running_.load()) {
    const wire::ControlReadResult result = wire::ReadClientMessage(source);
    switch (result.status) {
      case wire::ControlReadStatus::kMessage:
        // Commands still buffered from a connection that was dropped or replaced are not the
        // paired phone's any more.
        if (!ConnectionLive(socket))
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
