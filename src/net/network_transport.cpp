#include "net/network_transport.h"

#include "diag/crash_handler.h"
#include "diag/thread_guard.h"
#include "diag/log_channels.h"
#include "diag/socket_error.h"
#include "net/wire_opcodes.h"
#include "store/install_identity.h"

namespace Sorvane {

using net::kInvalidSocket;
using net::SocketHandle;

NetworkTransport::NetworkTransport() : NetworkTransport(Options{}) {}

NetworkTransport::NetworkTransport(const Options& options)
    : options_(options),
      clock_(options.clock ? *options.clock : SteadyClock()),
      dialogFactory_(CreatePairingDialog),
      advertiserFactory_(CreateServiceAdvertiser),
      pairingThrottle_(clock_) {
  net::SocketLibraryAcquire();
}

NetworkTransport::~NetworkTransport() {
  Stop();
  net::SocketLibraryRelease();
}

void NetworkTransport::StartListening(uint16_t controlPort) {
  if (running_.exchange(true))
    return;
  Log(channels::kNetwork, kLogInfo, "StartListening control=:%u video=:%u audio=:%u", controlPort,
      options_.videoPort, options_.audioPort);
  const SocketHandle udp = net::CreateUdpSender();
  if (udp == kInvalidSocket) {
    Log(channels::kNetwork, kLogError, "UDP socket() failed: %s", SocketErrorText().c_str());
  } else {
    Log(channels::kNetwork, kLogInfo, "UDP sender socket fd=%lld", static_cast<long long>(udp));
  }
  udpSocket_.store(udp);
  acceptThread_ = std::thread(&NetworkTransport::AcceptLoop, this, controlPort);
  controlPort_.store(controlPort);
  discoverable_.store(installid::Discoverable());
  if (discoverable_.load())
    transmitState_.Reset(AnyInstanceActive());  // before the poll thread reads it
  // Registering may wait seconds for the system; the host's call must not.
  advertiseThread_ = std::thread(&NetworkTransport::StartAdvertising, this, controlPort);
  pollThread_ = std::thread(&NetworkTransport::TransmitStatePollLoop, this);
}

void NetworkTransport::StartAdvertising(uint16_t port) {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kNetwork, "advertising thread");
  guard.Run([&] {
    if (!discoverable_.load()) {
      Log(channels::kNetwork, kLogInfo, "discoverable=false — skipping mDNS advertisement");
      return;
    }
    const InstallIdentity stored = installid::LoadOrCreate();
    if (!running_.load())
      return;  // stopped meanwhile: nothing to advertise
    if (stored.id.empty()) {
      // The identity file stayed unreadable: phones know this computer by its id, so none is
      // better than a wrong one.
      Log(channels::kNetwork, kLogError, "install identity unreadable — mDNS advertisement skipped");
      return;
    }
    const InstallIdentity identity = AdvertisedIdentity(stored);
    std::unique_ptr<IServiceAdvertiser> advertiser = advertiserFactory_();
    if (!advertiser) {
      Log(channels::kNetwork, kLogInfo, "ServiceAdvertiser factory returned null — mDNS skipped");
      return;
    }
    if (!advertiser->Start(
            port, AdvertisementRecord{identity.id, identity.name, transmitState_.Active()})) {
      Log(channels::kNetwork, kLogError,
          "ServiceAdvertiser::Start failed — retrying in the background");
    }
    std::lock_guard<std::mutex> lock(advertiserLock_);
    advertiser_ = std::move(advertiser);
    advertiser_->SetTransmit(transmitState_.Active());  // an edge may have passed meanwhile
  });
}

void NetworkTransport::AdvertiseTransmitState(bool active) {
  std::lock_guard<std::mutex> lock(advertiserLock_);
  if (advertiser_)
    advertiser_->SetTransmit(active);
}

void NetworkTransport::Stop() {
  if (!running_.exchange(false))
    return;
  Log(channels::kNetwork, kLogInfo, "Stop");
  { std::lock_guard<std::mutex> lock(pollMutex_); }
  pollCv_.notify_all();
  peerKnown_.store(false);
  // Wake every thread first; the numbers are given back only once nothing can use them.
  net::ShutdownBoth(clientSocket_.load());
  for (std::thread* t :
       {&acceptThread_, &readThread_, &heartbeatThread_, &pollThread_, &advertiseThread_}) {
    if (t->joinable())
      t->join();
  }
  CloseRetiredSocket(clientSocket_.exchange(kInvalidSocket));
  net::CloseSocket(listenSocket_.exchange(kInvalidSocket));
  SocketHandle udp = kInvalidSocket;
  {
    std::lock_guard<std::mutex> lock(peerLock_);
    udp = udpSocket_.exchange(kInvalidSocket);
  }
  net::CloseSocket(udp);
  std::unique_ptr<IServiceAdvertiser> advertiser;
  {
    std::lock_guard<std::mutex> lock(advertiserLock_);
    advertiser = std::move(advertiser_);
  }
  if (advertiser)
    advertiser->Stop();
}

void NetworkTransport::CloseRetiredSocket(SocketHandle socket) {
  if (socket == kInvalidSocket)
    return;
  std::lock_guard<std::mutex> lock(sendLock_);
  net::CloseSocket(socket);
}

void NetworkTransport::AcceptLoop(uint16_t port) {
  PrepareThreadForCrashes();
  const SocketHandle listener = net::CreateTcpListener(port);
  if (listener == kInvalidSocket) {
    Log(channels::kNetwork, kLogError, "CreateTcpListener(:%u) failed: %s", port,
        SocketErrorText().c_str());
    return;
  }
  listenSocket_.store(listener);
  // Stop may have run between the check and the store: it would not have seen this socket.
  if (!running_.load()) {
    net::CloseSocket(listenSocket_.exchange(kInvalidSocket));
    return;
  }
  Log(channels::kNetwork, kLogInfo, "Listening on :%u", port);
  while (running_.load()) {
    const SocketHandle current = listenSocket_.load();
    if (current == kInvalidSocket || !net::WaitReadable(current, 100))
      continue;
    const net::AcceptedPeer peer = net::AcceptClient(current);
    if (peer.socket == kInvalidSocket)
      continue;
    OnNewConnection(peer);
  }
}

void NetworkTransport::OnNewConnection(const net::AcceptedPeer& peer) {
  net::SetConnectionOptions(peer.socket);
  // A phone that stops reading must not hold a sender (and the host thread behind it) for long.
  net::SetSendTimeout(peer.socket, kControlSendTimeoutMs);
  Log(channels::kNetwork, kLogInfo, "Client connected fd=%lld ip=%{public}s — awaiting ClientHello",
      static_cast<long long>(peer.socket), net::AddressToText(peer.address).c_str());
  SocketHandle old = kInvalidSocket;
  {
    // A new connection is not trusted until its own handshake succeeds: nothing but heartbeats
    // and pairing replies may reach it before then.
    std::lock_guard<std::mutex> lock(peerLock_);
    peerAddress_ = peer.address;
    peerPort_ = peer.port;
    peerKnown_.store(false);
    old = clientSocket_.exchange(peer.socket);
    abandonedSocket_.store(kInvalidSocket);  // may name a closed socket whose number came back
  }
  if (old != kInvalidSocket) {
    Log(channels::kNetwork, kLogInfo, "Replaced old client fd=%lld", static_cast<long long>(old));
    net::ShutdownBoth(old);
  }
  // The old connection's threads still hold its number: close it only after they ended.
  if (readThread_.joinable())
    readThread_.join();
  if (heartbeatThread_.joinable())
    heartbeatThread_.join();
  CloseRetiredSocket(old);
  if (!running_.load()) {  // Stop ran meanwhile and may have missed the new socket
    CloseRetiredSocket(clientSocket_.exchange(kInvalidSocket));
    return;
  }
  readThread_ = std::thread(&NetworkTransport::ControlReadLoop, this, peer.socket);
  heartbeatThread_ = std::thread(&NetworkTransport::HeartbeatLoop, this, peer.socket);
}

bool NetworkTransport::SendControl(uint8_t opcode, const uint8_t* payload, size_t length) {
  std::lock_guard<std::mutex> lock(sendLock_);
  SocketHandle socket = kInvalidSocket;
  {
    // The trust flag and the connection it belongs to are read as one.
    std::lock_guard<std::mutex> peer(peerLock_);
    if (!wire::MaySendBeforePairing(opcode) && !peerKnown_.load()) {
      Log(channels::kNetwork, kLogDebug, "SendControl opcode=0x%02x: SKIP — peer not known",
          opcode);
      return false;
    }
    socket = clientSocket_.load();
  }
  if (socket == kInvalidSocket) {
    Log(channels::kNetwork, kLogDebug, "SendControl opcode=0x%02x: SKIP — fd invalid", opcode);
    return false;
  }
  return WriteControlMessage(socket, opcode, payload, length);
}

bool NetworkTransport::SendPairingReply(SocketHandle socket, uint8_t opcode, const uint8_t* payload,
                                        size_t length) {
  std::lock_guard<std::mutex> lock(sendLock_);
  if (clientSocket_.load() != socket) {
    Log(channels::kNetwork, kLogInfo,
        "pair: reply opcode=0x%02x not sent — fd=%lld was replaced meanwhile", opcode,
        static_cast<long long>(socket));
    return false;
  }
  return WriteControlMessage(socket, opcode, payload, length);
}

bool NetworkTransport::WriteControlMessage(SocketHandle socket, uint8_t opcode,
                                           const uint8_t* payload, size_t length) {
  const bool sent =
      net::SendExactly(socket, &opcode, 1) &&
      (payload == nullptr || length == 0 || net::SendExactly(socket, payload, length));
  if (sent)
    return true;
  // A message cut off part-way leaves the stream unreadable, and a phone that stopped reading
  // would block the next sender too: either way the connection is over.
  Log(channels::kNetwork, kLogInfo,
      "SendControl opcode=0x%02x fd=%lld failed or timed out: %s — dropping client", opcode,
      static_cast<long long>(socket), SocketErrorText().c_str());
  {
    std::lock_guard<std::mutex> peer(peerLock_);
    if (clientSocket_.load() == socket)
      peerKnown_.store(false);  // nothing more goes out until the read loop has ended
  }
  abandonedSocket_.store(socket);
  net::ShutdownBoth(socket);
  return false;
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
    if (!peerKnown_.load() || udp == kInvalidSocket)
      return false;
    sent = net::SendTo(udp, data, length, peerAddress_, port);
  }
  if (sent >= 0) {
    consecutiveUdpFailures_.store(0);
    return true;
  }
  if (sent == net::kSendWouldBlock) {
    Log(channels::kNetwork, kLogDebug, "UDP drop — kernel buffer full");
  } else {
    Log(channels::kNetwork, kLogError, "sendto port=%u failed: %s", port,
        SocketErrorText().c_str());
  }
  const uint32_t failures = consecutiveUdpFailures_.fetch_add(1) + 1;
  if (failures == 5 && udpFailureHandler_) {
    Log(channels::kNetwork, kLogInfo, "UDP: %d consecutive send failures — requesting IDR", 5);
    udpFailureHandler_();
  }
  return false;
}

bool NetworkTransport::MarkPaired(SocketHandle socket) {
  std::lock_guard<std::mutex> lock(peerLock_);
  if (clientSocket_.load() != socket)
    return false;  // replaced while pairing
  peerKnown_.store(true);
  return true;
}

bool NetworkTransport::ClearPeerIfCurrent(SocketHandle socket, SocketHandle* current) {
  std::lock_guard<std::mutex> lock(peerLock_);
  *current = clientSocket_.load();
  if (*current != socket)
    return false;
  peerKnown_.store(false);
  return true;
}

std::string NetworkTransport::PeerAddress() const {
  if (!peerKnown_.load())
    return {};
  std::lock_guard<std::mutex> lock(peerLock_);
  return net::AddressToText(peerAddress_);
}

void NetworkTransport::SendTransmitState(bool active) {
  const uint8_t value = active ? 1 : 0;
  SendControl(wire::kTransmitState, &value, 1);
}

void NetworkTransport::HeartbeatLoop(SocketHandle socket) {
  PrepareThreadForCrashes();
  Log(channels::kNetwork, kLogInfo, "HeartbeatLoop: START fd=%lld", static_cast<long long>(socket));
  int64_t deadline = clock_.NowNs() + 1'000'000'000;
  int ticks = 0;
  while (running_.load()) {
    clock_.SleepForNs(deadline - clock_.NowNs());
    deadline += 1'000'000'000;  // fixed-rate schedule
    ++ticks;
    if (!running_.load())
      break;
    const SocketHandle current = clientSocket_.load();
    if (current != socket) {
      Log(channels::kNetwork, kLogInfo,
          "HeartbeatLoop: EXIT fd=%lld — replaced by fd=%lld (tick=%d)",
          static_cast<long long>(socket), static_cast<long long>(current), ticks);
      break;
    }
    const bool ok = SendControl(wire::kHeartbeat, nullptr, 0);
    Log(channels::kNetwork, kLogDebug, "HeartbeatLoop: tick=%d fd=%lld send=%{public}s", ticks,
        static_cast<long long>(socket), ok ? "ok" : "FAIL");
    if (!ok)
      break;
  }
  Log(channels::kNetwork, kLogInfo, "HeartbeatLoop: END fd=%lld after %d ticks",
      static_cast<long long>(socket), ticks);
}

void NetworkTransport::TransmitStatePollLoop() {
  PrepareThreadForCrashes();
  Log(channels::kNetwork, kLogInfo, "TransmitStatePollLoop: START");
  while (running_.load()) {
    {
      std::unique_lock<std::mutex> lock(pollMutex_);
      pollCv_.wait_for(lock, std::chrono::seconds(1), [this] { return !running_.load(); });
    }
    if (!running_.load())
      break;
    const auto edge = transmitState_.Poll(AnyInstanceActive());
    if (!edge)
      continue;
    if (edge->active) {
      Log(channels::kNetwork, kLogInfo, "transmit: edge inactive → active");
    } else {
      Log(channels::kNetwork, kLogInfo, "transmit: edge active → inactive after %d ticks",
          edge->inactivePolls);
    }
    SendTransmitState(edge->active);
    AdvertiseTransmitState(edge->active);
  }
  Log(channels::kNetwork, kLogInfo, "TransmitStatePollLoop: END");
}

}  // namespace Sorvane
