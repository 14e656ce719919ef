#pragma once
#include "net/control_reader.h"
#include "net/socket_ops.h"

namespace Sorvane::net {

// Feeds the control framing from a connected socket.
class SocketByteSource final : public wire::ByteSource {
 public:
  explicit SocketByteSource(SocketHandle socket) : socket_(socket) {}
  bool ReadExactly(uint8_t* buffer, size_t n) override {
    return ReceiveExactly(socket_, buffer, n);
  }

 private:
  SocketHandle socket_;
};

}  // namespace Sorvane::net
