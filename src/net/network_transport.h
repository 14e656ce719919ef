#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "discovery/service_advertiser.h"
#include "net/pairing_throttle.h"
#include "net/socket_ops.h"
#include "net/transmit_state_debounce.h"
#include "ui/pairing_dialog.h"

namespace Sorvane {

// The plug-in's whole network presence: the control port with one client at a time (pairing,
// control messages, heartbeat, transmit state), UDP datagrams to that client, and the service
// advertisement.
class NetworkTransport {
 public:
  using ControlMessageHandler =
      std::function<void(uint8_t opcode, const uint8_t* payload, size_t length)>;
  using NewClientHandler = std::function<void()>;
  using UdpFailureHandler = std::function<void()>;
  using ActivityQuery = std::function<bool()>;
  using PairingDialogFactory = std::function<std::unique_ptr<IPairingDialog>()>;
  using AdvertiserFactory = std::function<std::unique_ptr<IServiceAdvertiser>()>;

  static constexpr uint16_t kVideoPort = 47101;
  static constexpr uint16_t kAudioPort = 47102;
  // How long one control send may wait for a phone that does not read before it is dropped.
  static constexpr int kControlSendTimeoutMs = 2000;

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

 private:
  void AcceptLoop(uint16_t port);
  void ControlReadLoop(net::SocketHandle socket);
  void ServeControlMessages(net::SocketHandle socket);
  void HeartbeatLoop(net::SocketHandle socket);
  void TransmitStatePollLoop();
  // The client's token on success, empty on failure.
  std::string DoPairingHandshake(net::SocketHandle socket);
  bool SendDatagram(const uint8_t* data, size_t length, uint16_t port);
  // A pairing reply: only on the handshake's own connection, and only while it is current.
  bool SendPairingReply(net::SocketHandle socket, uint8_t opcode, const uint8_t* payload,
                        size_t length);
  // Writes one message; a failed or timed-out send drops the connection. Caller holds sendLock_.
  bool WriteControlMessage(net::SocketHandle socket, uint8_t opcode, const uint8_t* payload,
                           size_t length) REQUIRES(sendLock_);
  // Whether `socket`'s threads should go on waiting for it: still current, not abandoned by a
  // pairing cancel or a failed send, and the transport running.
  bool ConnectionLive(net::SocketHandle socket) const {
    return running_.load() && clientSocket_.load() == socket && abandonedSocket_.load() != socket;
  }
  // Closes a socket once no thread can still be using its number.
  void CloseRetiredSocket(net::SocketHandle socket);
  // Runs on the advertising thread.
  void StartAdvertising(uint16_t port);
  // Tells the advertisement the debounced transmit state.
  void AdvertiseTransmitState(bool active);
  void SendTransmitState(bool active);
  bool AnyInstanceActive() const { return activityQuery_ ? activityQuery_() : false; }
  void OnNewConnection(const net::AcceptedPeer& peer);
  // Trusts `socket` if it is still the current connection.
  bool MarkPaired(net::SocketHandle socket);
  // Forgets the peer if `socket` is still the current connection; reports the current one.
  bool ClearPeerIfCurrent(net::SocketHandle socket, net::SocketHandle* current);

  const Options options_;
  const Clock& clock_;

  // Threads: started and joined by StartListening / Stop and the accept thread (which replaces
  // the read and heartbeat threads of a replaced connection).
  std::thread acceptThread_;
  std::thread readThread_;       // owned by the accept thread while running
  std::thread heartbeatThread_;  // owned by the accept thread while running
  std::thread pollThread_;
  std::thread advertiseThread_;  // registers the advertisement; joined by Stop
  std::atomic<bool> running_{false};
  std::mutex pollMutex_;  // only wakes the poll thread early
  std::condition_variable pollCv_;

  std::atomic<net::SocketHandle> listenSocket_{net::kInvalidSocket};
  std::atomic<net::SocketHandle> clientSocket_{net::kInvalidSocket};  // replaced under peerLock_
  std::atomic<net::SocketHandle> udpSocket_{net::kInvalidSocket};     // replaced under peerLock_
  std::atomic<net::SocketHandle> abandonedSocket_{net::kInvalidSocket};
  std::atomic<bool> peerKnown_{false};  // set and cleared under peerLock_, read lock-free
  // Lock order: sendLock_ before peerLock_. Control sockets are closed only under sendLock_ and
  // the UDP socket only under peerLock_, so a sender never writes to a recycled number.
  mutable std::mutex peerLock_;
  uint32_t peerAddress_ GUARDED_BY(peerLock_) = 0;
  uint16_t peerPort_ GUARDED_BY(peerLock_) = 0;
  std::mutex sendLock_;  // makes each control message atomic on the wire

  // Installed before StartListening and not changed while running.
  ControlMessageHandler controlHandler_;
  NewClientHandler newClientHandler_;
  UdpFailureHandler udpFailureHandler_;
  ActivityQuery activityQuery_;
  PairingDialogFactory dialogFactory_;
  AdvertiserFactory advertiserFactory_;

  std::atomic<uint32_t> consecutiveUdpFailures_{0};
  std::mutex advertiserLock_;  // guards the pointer; SetTransmit through it never blocks
  std::unique_ptr<IServiceAdvertiser> advertiser_ GUARDED_BY(advertiserLock_);
  std::atomic<bool> discoverable_{true};
  std::atomic<uint16_t> controlPort_{47100};
  TransmitStateDebounce transmitState_;
  PairingThrottle pairingThrottle_;
};

}  // namespace Sorvane
