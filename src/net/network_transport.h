#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "discovery/service_advertiser.h"
#include "net/control_connection.h"
#include "net/pairing_throttle.h"
#include "net/socket_ops.h"
#include "net/transmit_state_debounce.h"
#include "net/udp_send_health.h"
#include "ui/pairing_dialog.h"

namespace Sorvane {

// The plug-in's whole network presence: the control port with one paired client at a time
// (pairing, control messages, heartbeat, transmit state), UDP datagrams to that client, and the
// service advertisement.
//
// Other machines on the network may connect too. A new connection pairs on its own socket while
// the paired phone goes on being served; only a newcomer whose handshake succeeds replaces it. At
// most one newcomer waits at a time (a later one replaces it), and one that has not sent its
// hello within 10 s is closed.
class NetworkTransport {
 public:
  using ControlMessageHandler =
      std::function<void(uint8_t opcode, const uint8_t* payload, size_t length)>;
  using NewClientHandler = std::function<void()>;
  using UdpFailureHandler = std::function<void()>;
  using ActivityQuery = std::function<bool()>;
  using PairingDialogFactory = std::function<std::unique_ptr<IPairingDialog>()>;
  using AdvertiserFactory = std::function<std::unique_ptr<IServiceAdvertiser>()>;
  // A six-digit code, or a 64-character token; empty when no secure random value was available.
  using SecretSource = std::function<std::string()>;

  static constexpr uint16_t kVideoPort = 47101;
  static constexpr uint16_t kAudioPort = 47102;
  // How long one control send may wait for a phone that does not read before it is dropped.
  static constexpr int kControlSendTimeoutMs = 2000;
  // How long a new connection may take to send its whole ClientHello.
  static constexpr int64_t kHelloTimeoutNs = 10'000'000'000;

  // Tests may send datagrams to other ports than the phone's fixed ones.
  struct Options {
    uint16_t videoPort = kVideoPort;
    uint16_t audioPort = kAudioPort;
    const Clock* clock = nullptr;  // null: the steady clock
  };

  NetworkTransport();
  explicit NetworkTransport(const Options& options);
  ~NetworkTransport();
  NetworkTransport(const NetworkTransport&) = delete;
  NetworkTransport& operator=(const NetworkTransport&) = delete;

  // Installed before StartListening.
  void SetControlMessageHandler(ControlMessageHandler handler) {
    controlHandler_ = std::move(handler);
  }
  void SetNewClientHandler(NewClientHandler handler) { newClientHandler_ = std::move(handler); }
  void SetUdpFailureHandler(UdpFailureHandler handler) { udpFailureHandler_ = std::move(handler); }
  // Whether any transmit instance is active (the transmit state sent to the client).
  void SetActivityQuery(ActivityQuery query) { activityQuery_ = std::move(query); }
  void SetPairingDialogFactory(PairingDialogFactory factory) {
    dialogFactory_ = std::move(factory);
  }
  void SetAdvertiserFactory(AdvertiserFactory factory) { advertiserFactory_ = std::move(factory); }
  // Where pairing codes and tokens come from (the system's random generator unless replaced).
  void SetPairingSecrets(SecretSource code, SecretSource token) {
    codeSource_ = std::move(code);
    tokenSource_ = std::move(token);
  }

  // Port 0 listens on a port the system picks (ControlPort then tells which).
  void StartListening(uint16_t controlPort);
  void Stop();

  bool SendControl(uint8_t opcode, const uint8_t* payload, size_t length);
  bool SendVideo(const uint8_t* data, size_t length);
  bool SendAudio(const uint8_t* data, size_t length);

  // The paired client's dotted IPv4 address; empty while none is paired.
  std::string PeerAddress() const;
  bool PeerKnown() const { return peerKnown_.load(); }
  bool IsRunning() const { return running_.load(); }
  uint16_t ControlPort() const { return controlPort_.load(); }
  bool TransmitActive() const { return transmitState_.Active(); }
  // Accepts that failed since the start (out of descriptors, say).
  uint64_t AcceptFailures() const { return acceptFailures_.load(); }

 private:
  using ConnectionPtr = std::shared_ptr<ControlConnection>;
  // The threads of one connection, owned by the accept thread while running.
  struct ConnectionThreads {
    ConnectionPtr connection;
    std::thread reader;
    std::thread heartbeat;
  };

  void AcceptLoop(net::SocketHandle listener);
  void AcceptFailed();
  void OnNewConnection(const net::AcceptedPeer& peer);
  void StartConnectionThreads(const ConnectionPtr& connection);
  void ReapFinishedConnections();
  void ControlReadLoop(ConnectionPtr connection);
  void EndReadLoop(const ConnectionPtr& connection);
  void ServeControlMessages(const ConnectionPtr& connection);
  void HeartbeatLoop(ConnectionPtr connection);
  void TransmitStatePollLoop();
  // The client's token on success, empty on failure.
  std::string DoPairingHandshake(const ConnectionPtr& connection);
  // The code challenge after the hello (a dialog shows the code); the fresh token or empty.
  std::string ChallengeWithCode(const ConnectionPtr& connection, const std::string& id,
                                const std::string& name);
  // Sleeps on the clock until `deadlineNs` in short steps; false as soon as `keepWaiting` is.
  bool SleepUntil(int64_t deadlineNs, const std::function<bool()>& keepWaiting) const;
  bool SendDatagram(const uint8_t* data, size_t length, uint16_t port);
  // A pairing reply: only on the handshake's own connection, and only while it is the newcomer.
  bool SendPairingReply(const ConnectionPtr& connection, uint8_t opcode, const uint8_t* payload,
                        size_t length);
  bool SendHeartbeat(ControlConnection& connection);
  // Writes one message; a failed or timed-out send drops the connection. Caller holds its
  // sendLock.
  bool WriteControlMessage(ControlConnection& connection, uint8_t opcode, const uint8_t* payload,
                           size_t length);
  void Abandon(ControlConnection& connection);
  // Whether `connection`'s threads should go on with it: the paired one or the newcomer, not
  // abandoned, and the transport running.
  bool ConnectionLive(const ControlConnection& connection) const {
    return running_.load() && !connection.abandoned.load() &&
           (servedSocket_.load() == connection.socket ||
            pendingSocket_.load() == connection.socket);
  }
  // Runs on the advertising thread.
  void StartAdvertising(uint16_t port);
  // Tells the advertisement the debounced transmit state.
  void AdvertiseTransmitState(bool active);
  void SendTransmitState(bool active);
  bool AnyInstanceActive() const { return activityQuery_ ? activityQuery_() : false; }
  // Makes the newcomer the served, trusted connection; false when another replaced it meanwhile.
  bool Promote(const ConnectionPtr& connection);
  // Frees the newcomer's place if `connection` still holds it.
  void ForgetPending(const ConnectionPtr& connection);
  // Forgets the peer if `connection` is still the served one; reports the served socket.
  bool ClearPeerIfCurrent(const ControlConnection& connection, net::SocketHandle* current);
  ConnectionPtr Served() const;

  const Options options_;
  const Clock& clock_;

  std::thread acceptThread_;
  std::thread pollThread_;
  std::thread advertiseThread_;  // registers the advertisement; joined by Stop
  std::atomic<bool> running_{false};
  std::mutex pollMutex_;  // only wakes the poll thread early
  std::condition_variable pollCv_;
  std::mutex connectionsLock_;  // the accept thread adds and reaps; Stop joins what is left
  std::list<ConnectionThreads> connections_ GUARDED_BY(connectionsLock_);

  std::atomic<net::SocketHandle> listenSocket_{net::kInvalidSocket};
  std::atomic<net::SocketHandle> udpSocket_{net::kInvalidSocket};  // replaced under peerLock_
  // The served connection (paired, or paired once and its read loop ended) and the newcomer
  // still pairing. The socket numbers mirror them for lock-free checks by threads that hold their
  // own connection (so the number cannot be reused under the check).
  mutable std::mutex peerLock_;
  ConnectionPtr served_ GUARDED_BY(peerLock_);
  ConnectionPtr pending_ GUARDED_BY(peerLock_);
  std::atomic<net::SocketHandle> servedSocket_{net::kInvalidSocket};   // written under peerLock_
  std::atomic<net::SocketHandle> pendingSocket_{net::kInvalidSocket};  // written under peerLock_
  std::atomic<bool> peerKnown_{false};  // set and cleared under peerLock_, read lock-free

  // Installed before StartListening and not changed while running.
  ControlMessageHandler controlHandler_;
  NewClientHandler newClientHandler_;
  UdpFailureHandler udpFailureHandler_;
  ActivityQuery activityQuery_;
  PairingDialogFactory dialogFactory_;
  AdvertiserFactory advertiserFactory_;
  SecretSource codeSource_;
  SecretSource tokenSource_;

  UdpSendHealth udpHealth_;
  std::atomic<uint64_t> acceptFailures_{0};
  int64_t acceptBackoffNs_ = 0;  // owned by the accept thread
  std::mutex advertiserLock_;    // guards the pointer; SetTransmit through it never blocks
  std::unique_ptr<IServiceAdvertiser> advertiser_ GUARDED_BY(advertiserLock_);
  std::atomic<bool> discoverable_{true};
  std::atomic<uint16_t> controlPort_{47100};
  TransmitStateDebounce transmitState_;
  PairingThrottle pairingThrottle_;
};

}  // namespace Sorvane
