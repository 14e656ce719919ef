#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_ops.h"
#include "sv-receiver/app/receiver_options.h"

namespace Sorvane::receiver {

// What the plug-in told us about the stream.
struct StreamDescription {
  int sourceWidth = 0, sourceHeight = 0;
  float sourceFps = 0;
  int streamWidth = 0, streamHeight = 0, streamFps = 0;
  uint32_t frameCap = 0;
  std::string encoderInfo;
  std::vector<std::string> encoderInfoHistory;
  int platform = -1, architecture = -1;
  std::vector<std::string> engines;
  int transmitState = -1;
  uint64_t playbackStateMessages = 0;  // kPlaybackState: the host's play state
  int playbackState = -1;              // the last one (1 playing, 0 not)
};

// The control connection as a phone would run it: hello, pairing (token or code), settings,
// commands, then every plug-in message counted and decoded until the run ends.
class ControlSession {
 public:
  explicit ControlSession(const ReceiverOptions& options) : options_(options) {}
  ~ControlSession();

  // Connects and pairs; "accepted", "rejected" or why it failed in `outcome`.
  bool ConnectAndPair();
  // Sends the settings and commands, then reads messages on a thread of its own.
  void StartServing();
  // Asks the plug-in for a keyframe, as a phone does after a lost picture (any thread).
  void RequestKeyframe();
  void Close();
  // The plug-in's IPv4 address (network order) once connected, else 0 (any thread).
  uint32_t PeerAddress() const { return peerAddress_.load(); }
  // How long the connection and the pairing took.
  double PairingMs() const { return pairingMs_; }

  const std::string& outcome() const { return outcome_; }
  bool pairedWithCode() const { return pairedWithCode_; }
  bool connectionLost() const { return connectionLost_.load(); }
  std::map<std::string, uint64_t> MessageCounts() const;
  std::map<int, uint64_t> AckCounts() const;
  StreamDescription Description() const;

 private:
  bool Pair();
  bool SendMessage(uint8_t opcode, const std::vector<uint8_t>& payload);
  bool SendHello(const std::string& token);
  std::string ObtainCode();
  void ReadLoop();
  void HandleMessage(uint8_t opcode, const std::vector<uint8_t>& payload);
  std::string LoadToken() const;
  void StoreToken(const std::string& token) const;

  ReceiverOptions options_;
  net::SocketHandle socket_ = net::kInvalidSocket;
  std::atomic<uint32_t> peerAddress_{0};
  double pairingMs_ = 0;
  std::mutex sendLock_;  // the video thread's requests and the main thread's commands
  std::thread reader_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> connectionLost_{false};
  std::string outcome_ = "not connected";
  bool pairedWithCode_ = false;
  size_t logOffsetAtConnect_ = 0;
  mutable std::mutex stateLock_;
  std::map<std::string, uint64_t> messageCounts_;  // guarded by stateLock_
  std::map<int, uint64_t> ackCounts_;              // guarded by stateLock_
  StreamDescription description_;                  // guarded by stateLock_
};

}  // namespace Sorvane::receiver
