#include "net/network_transport.h"

#include <algorithm>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/socket_error.h"
#include "diag/thread_guard.h"
#include "store/app_paths.h"
#include "store/install_identity.h"

namespace Sorvane {
namespace {

using net::kInvalidSocket;
using net::SocketHandle;

constexpr int64_t kSleepStepNs = 50'000'000;
constexpr int64_t kFirstAcceptBackoffNs = 10'000'000;
constexpr int64_t kMaxAcceptBackoffNs = 1'000'000'000;

}  // namespace

NetworkTransport::NetworkTransport() : NetworkTransport(Options{}) {}

NetworkTransport::NetworkTransport(const Options& options)
    : options_(options),
      clock_(options.clock ? *options.clock : SteadyClock()),
      dialogFactory_(CreatePairingDialog),
      advertiserFactory_(CreateServiceAdvertiser),
      codeSource_(GeneratePairingCode),
      tokenSource_(GeneratePairingToken),
      udpHealth_(clock_),
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
  // Bound here rather than on the accept thread, so the port is known (and connectable) at once.
  const SocketHandle listener = net::CreateTcpListener(controlPort);
  if (listener == kInvalidSocket) {
    Log(channels::kNetwork, kLogError, "CreateTcpListener(:%u) failed: %s", controlPort,
        SocketErrorText().c_str());
    controlPort_.store(controlPort);
  } else {
    listenSocket_.store(listener);
    controlPort_.store(controlPort != 0 ? controlPort : net::LocalPort(listener));
    Log(channels::kNetwork, kLogInfo, "Listening on :%u", controlPort_.load());
    acceptThread_ = std::thread(&NetworkTransport::AcceptLoop, this, listener);
  }
  discoverable_.store(installid::Discoverable());
  if (discoverable_.load())
    transmitState_.Reset(AnyInstanceActive());  // before the poll thread reads it
  // Registering may wait seconds for the system; the host's call must not.
  advertiseThread_ = std::thread(&NetworkTransport::StartAdvertising, this, controlPort_.load());
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
      Log(channels::kNetwork, kLogError,
          "install identity unreadable — mDNS advertisement skipped");
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
  {
    std::lock_guard<std::mutex> lock(peerLock_);
    peerKnown_.store(false);
  }
  if (acceptThread_.joinable())
    acceptThread_.join();  // no connection is added after this
  std::list<ConnectionThreads> connections;
  {
    std::lock_guard<std::mutex> lock(connectionsLock_);
    connections.swap(connections_);
  }
  // Wake every thread first; the sockets are closed once nothing holds their connections.
  for (ConnectionThreads& c : connections) {
    c.connection->abandoned.store(true);
    net::ShutdownBoth(c.connection->socket);
  }
  for (ConnectionThreads& c : connections) {
    for (std::thread* t : {&c.reader, &c.heartbeat}) {
      if (t->joinable())
        t->join();
    }
  }
  connections.clear();
  {
    std::lock_guard<std::mutex> lock(peerLock_);
    served_.reset();
    pending_.reset();
    servedSocket_.store(kInvalidSocket);
    pendingSocket_.store(kInvalidSocket);
  }
  for (std::thread* t : {&pollThread_, &advertiseThread_}) {
    if (t->joinable())
      t->join();
  }
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

bool NetworkTransport::SleepUntil(int64_t deadlineNs,
                                  const std::function<bool()>& keepWaiting) const {
  for (;;) {
    if (!keepWaiting())
      return false;
    const int64_t left = deadlineNs - clock_.NowNs();
    if (left <= 0)
      return true;
    clock_.SleepForNs(std::min(left, kSleepStepNs));
  }
}

void NetworkTransport::AcceptLoop(SocketHandle listener) {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kNetwork, "accept thread");
  guard.Run([&] {
    while (running_.load()) {
      ReapFinishedConnections();
      if (!net::WaitReadable(listener, 100))
        continue;
      const net::AcceptedPeer peer = net::AcceptClient(listener);
      if (peer.socket == kInvalidSocket) {
        AcceptFailed();
        continue;
      }
      acceptBackoffNs_ = 0;
      OnNewConnection(peer);
    }
  });
}

// A listener that stays readable while accept keeps failing (out of descriptors, say) would
// otherwise be polled at full speed; wait longer after each failure, and say so only once per
// wait.
void NetworkTransport::AcceptFailed() {
  acceptFailures_.fetch_add(1);
  acceptBackoffNs_ = acceptBackoffNs_ == 0 ? kFirstAcceptBackoffNs
                                           : std::min(acceptBackoffNs_ * 2, kMaxAcceptBackoffNs);
  if (acceptBackoffNs_ == kFirstAcceptBackoffNs || acceptBackoffNs_ == kMaxAcceptBackoffNs) {
    Log(channels::kNetwork, kLogError, "accept failed: %s — retrying in %lld ms (%llu failures)",
        SocketErrorText().c_str(), static_cast<long long>(acceptBackoffNs_ / 1'000'000),
        static_cast<unsigned long long>(acceptFailures_.load()));
  }
  SleepUntil(clock_.NowNs() + acceptBackoffNs_, [this] { return running_.load(); });
}

// Never throws: a connection that cannot be served is closed and accepting goes on.
void NetworkTransport::OnNewConnection(const net::AcceptedPeer& peer) {
  static ThreadGuard guard(channels::kNetwork, "new connection");
  ConnectionPtr connection;
  const bool admitted = guard.Run([&] {
    connection = std::make_shared<ControlConnection>(peer.socket, peer.address, clock_.NowNs());
    net::SetConnectionOptions(peer.socket);
    // A phone that stops reading must not hold a sender (and the host thread behind it) for long.
    net::SetSendTimeout(peer.socket, kControlSendTimeoutMs);
    Log(channels::kNetwork, kLogInfo,
        "Client connected fd=%lld ip=%{public}s — awaiting ClientHello", connection->Fd(),
        net::AddressToText(peer.address).c_str());
    ConnectionPtr replaced;
    {
      // The paired phone is left alone: the newcomer only takes the newcomer's place.
      std::lock_guard<std::mutex> lock(peerLock_);
      replaced = std::exchange(pending_, connection);
      pendingSocket_.store(connection->socket);
    }
    if (replaced) {
      Log(channels::kNetwork, kLogInfo, "Replaced pairing newcomer fd=%lld", replaced->Fd());
      Abandon(*replaced);
    }
    StartConnectionThreads(connection);
  });
  if (admitted)
    return;
  if (!connection) {
    net::CloseSocket(peer.socket);
    return;
  }
  ForgetPending(connection);
  Abandon(*connection);  // its socket closes with the last holder
}

// Lock order: connectionsLock_ before peerLock_.
void NetworkTransport::StartConnectionThreads(const ConnectionPtr& connection) {
  std::lock_guard<std::mutex> lock(connectionsLock_);
  ConnectionThreads& threads = connections_.emplace_back();
  threads.connection = connection;
  // A thread that cannot start counts as ended, and the connection is closed.
  const auto start = [&](std::thread& slot, void (NetworkTransport::*body)(ConnectionPtr),
                         std::atomic<bool>& done, const char* what) {
    try {
      slot = std::thread(body, this, connection);
      return true;
    } catch (const std::exception& e) {
      Log(channels::kNetwork, kLogFault, "no %s thread for fd=%lld (%s) — closing it", what,
          connection->Fd(), e.what());
      done.store(true);
      ForgetPending(connection);
      Abandon(*connection);
      return false;
    }
  };
  if (!start(threads.reader, &NetworkTransport::ControlReadLoop, connection->readerDone, "read")) {
    connection->heartbeatDone.store(true);
    return;
  }
  start(threads.heartbeat, &NetworkTransport::HeartbeatLoop, connection->heartbeatDone,
        "heartbeat");
}

void NetworkTransport::ReapFinishedConnections() {
  std::lock_guard<std::mutex> lock(connectionsLock_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (!it->connection->readerDone.load() || !it->connection->heartbeatDone.load()) {
      ++it;
      continue;
    }
    for (std::thread* t : {&it->reader, &it->heartbeat}) {
      if (t->joinable())
        t->join();
    }
    it = connections_.erase(it);
  }
}

void NetworkTransport::Abandon(ControlConnection& connection) {
  connection.abandoned.store(true);
  net::ShutdownBoth(connection.socket);
}

bool NetworkTransport::Promote(const ConnectionPtr& connection) {
  ConnectionPtr old;
  {
    std::lock_guard<std::mutex> lock(peerLock_);
    if (pending_ != connection || connection->abandoned.load())
      return false;  // a later newcomer took its place while it paired
    old = std::exchange(served_, connection);
    servedSocket_.store(connection->socket);
    pending_.reset();
    pendingSocket_.store(kInvalidSocket);
    peerKnown_.store(true);
  }
  if (old) {
    Log(channels::kNetwork, kLogInfo, "Replaced old client fd=%lld", old->Fd());
    Abandon(*old);
  }
  return true;
}

void NetworkTransport::ForgetPending(const ConnectionPtr& connection) {
  std::lock_guard<std::mutex> lock(peerLock_);
  if (pending_ != connection)
    return;
  pending_.reset();
  pendingSocket_.store(kInvalidSocket);
}

bool NetworkTransport::ClearPeerIfCurrent(const ControlConnection& connection,
                                          SocketHandle* current) {
  std::lock_guard<std::mutex> lock(peerLock_);
  *current = servedSocket_.load();
  if (*current != connection.socket)
    return false;
  peerKnown_.store(false);
  return true;
}

NetworkTransport::ConnectionPtr NetworkTransport::Served() const {
  std::lock_guard<std::mutex> lock(peerLock_);
  return served_;
}

std::string NetworkTransport::PeerAddress() const {
  std::lock_guard<std::mutex> lock(peerLock_);
  if (!peerKnown_.load() || !served_)
    return {};
  return net::AddressToText(served_->address);
}

}  // namespace Sorvane
