#pragma once
#include <functional>
#include <utility>

#include "net/control_reader.h"
#include "net/socket_ops.h"

namespace Sorvane::net {

// Feeds the control framing from a connected socket.
class SocketByteSource final : public wire::ByteSource {
 public:
  explicit SocketByteSource(SocketHandle socket) : socket_(socket) {}
  // Waits in short slices and gives up once `keepWaiting` says so, which it asks before every
  // receive too (a sender trickling bytes cannot outlast a deadline). Shutting a socket down does
  // not wake a receive blocked in another thread everywhere (Windows), and closing it while that
  // thread still holds the number would let the number be reused under it.
  SocketByteSource(SocketHandle socket, std::function<bool()> keepWaiting)
      : socket_(socket), keepWaiting_(std::move(keepWaiting)) {}

  bool ReadExactly(uint8_t* buffer, size_t n) override {
    if (!keepWaiting_)
      return ReceiveExactly(socket_, buffer, n);
    while (n > 0) {
      if (!keepWaiting_())
        return false;
      if (!WaitReadable(socket_, kWaitSliceMs))
        continue;
      const int got = ReceiveSome(socket_, buffer, n);
      if (got <= 0)
        return false;
      buffer += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  static constexpr int kWaitSliceMs = 100;
  SocketHandle socket_;
  std::function<bool()> keepWaiting_;
};

}  // namespace Sorvane::net
