#pragma once
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/control_reader.h"
#include "net/socket_byte_source.h"
#include "net/socket_ops.h"
#include "net/wire_opcodes.h"

namespace Sorvane::test {

// A phone's side of the control channel over loopback, for driving the real transport.
class TestClient {
 public:
  explicit TestClient(uint16_t port) {
    net::SocketLibraryAcquire();
    for (int i = 0; i < 50 && socket_ == net::kInvalidSocket; ++i) {
      socket_ = net::ConnectTcp("127.0.0.1", port);
      if (socket_ == net::kInvalidSocket)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // Takes over a connection made elsewhere (another local address, say).
  struct Connected {
    net::SocketHandle socket;
  };
  explicit TestClient(Connected connected) : socket_(connected.socket) {
    net::SocketLibraryAcquire();
  }
  ~TestClient() {
    net::CloseSocket(socket_);
    net::SocketLibraryRelease();
  }
  bool connected() const { return socket_ != net::kInvalidSocket; }
  // The plug-in reads the end of the stream; this side can still receive its heartbeats.
  void FinishSending() { net::ShutdownSend(socket_); }
  // Sends give up after `timeoutMs`, so a client whose peer stopped reading can still stop.
  void LimitSendTime(int timeoutMs) { net::SetSendTimeout(socket_, timeoutMs); }

  bool Send(std::vector<uint8_t> bytes) {
    return net::SendExactly(socket_, bytes.data(), bytes.size());
  }
  bool Hello(const std::string& id, const std::string& name, const std::string& token) {
    std::vector<uint8_t> bytes = {wire::kClientHello};
    for (const std::string* f : {&id, &name, &token}) {
      bytes.push_back(static_cast<uint8_t>(f->size()));
      bytes.insert(bytes.end(), f->begin(), f->end());
    }
    return Send(bytes);
  }
  bool Code(const std::string& code) {
    std::vector<uint8_t> bytes = {wire::kPairingCode};
    bytes.insert(bytes.end(), code.begin(), code.end());
    return Send(bytes);
  }

  // The next message other than a heartbeat (heartbeats are counted); nullopt when the
  // connection ended or nothing came within the timeout.
  std::optional<wire::ControlReadResult> Next(int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto r = ReadOne(deadline)) {
      if (r->opcode != wire::kHeartbeat)
        return r;
    }
    return std::nullopt;
  }
  // True once a heartbeat arrives within the timeout (other messages are skipped).
  bool AwaitHeartbeat(int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (auto r = ReadOne(deadline)) {
      if (r->opcode == wire::kHeartbeat)
        return true;
    }
    return false;
  }
  // True when something has arrived to be read within the timeout (nothing is read).
  bool Arrived(int timeoutMs) { return net::WaitReadable(socket_, timeoutMs); }
  // Reads what has already arrived, without waiting (heartbeats are counted).
  void ReadArrived() {
    while (ReadOne(std::chrono::steady_clock::now())) {
    }
  }
  // Reads until a message with `opcode` comes (others are skipped).
  std::optional<wire::ControlReadResult> NextOf(uint8_t opcode, int timeoutMs = 3000) {
    while (auto r = Next(timeoutMs)) {
      if (r->opcode == opcode)
        return r;
    }
    return std::nullopt;
  }
  // True when the plug-in closed the connection (or stopped reading it) within the timeout;
  // whatever it sent before is read and dropped.
  bool Closed(int timeoutMs = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t byte = 0;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !net::WaitReadable(socket_, static_cast<int>(left.count())))
        return false;
      if (!net::ReceiveExactly(socket_, &byte, 1))
        return true;
    }
  }

  int heartbeats = 0;

 private:
  // One message, heartbeats included and counted; nullopt at the deadline or the end.
  std::optional<wire::ControlReadResult> ReadOne(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!net::WaitReadable(socket_, static_cast<int>(std::max<int64_t>(left.count(), 0))))
      return std::nullopt;
    net::SocketByteSource source(socket_);
    wire::ControlReadResult r = wire::ReadPluginMessage(source);
    if (r.status != wire::ControlReadStatus::kMessage)
      return std::nullopt;
    if (r.opcode == wire::kHeartbeat)
      ++heartbeats;
    return r;
  }

  net::SocketHandle socket_ = net::kInvalidSocket;
};

}  // namespace Sorvane::test
