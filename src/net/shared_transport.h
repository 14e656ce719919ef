#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/thread_annotations.h"
#include "net/network_transport.h"
#include "net/pacer.h"
#include "net/transport_client.h"
#include "net/ui_status.h"

namespace Sorvane {

// The process-wide owner of the one network transport and the one pacer: keeps the registered
// transmit instances, fans the client's events out to them, holds the datagram counters and
// remembers the client's settings for instances created later.
class SharedTransport {
 public:
  static SharedTransport& Instance();

  // A transport of its own on `controlPort` (tests); the process-wide one uses the host's port.
  explicit SharedTransport(uint16_t controlPort, const NetworkTransport::Options& options = {});
  ~SharedTransport();
  SharedTransport(const SharedTransport&) = delete;
  SharedTransport& operator=(const SharedTransport&) = delete;

  void Acquire(ITransportClient* instance);
  void Release(ITransportClient* instance);
  void EnsureStarted();
  bool IsAnyInstanceActive();

  bool SendControl(uint8_t opcode, const uint8_t* payload, size_t length);
  // Tells the client the host's play state (kPlaybackState) and keeps it for a client that pairs
  // later; true when the message was queued.
  bool PublishPlaybackState(bool playing);
  bool HasClient() const { return network_.PeerKnown(); }
  void EnqueueVideo(std::vector<std::vector<uint8_t>> datagrams);
  void EnqueueAudio(std::vector<std::vector<uint8_t>> datagrams);
  void ClearPacerQueue();
  void SetPacerBitrate(uint32_t bitsPerSecond);

  uint16_t NextVideoFrameId() { return videoFrameId_.fetch_add(1); }
  uint16_t NextAudioFrameId() { return audioFrameId_.fetch_add(1); }
  uint32_t ReserveVideoSequence(uint32_t n) { return videoSequence_.fetch_add(n); }
  uint32_t ReserveAudioSequence(uint32_t n) { return audioSequence_.fetch_add(n); }

  void SetCachedGopSize(int32_t size);
  void SetCachedGopMode(int32_t mode);
  void SetCachedCodec(int32_t codec);
  void SetCachedMaxResolution(int32_t shortSide);
  void SetCachedEncoderMode(int32_t mode, int32_t qualityPercent);
  CachedClientSettings GetCachedClientSettings() const;

  void SetUiStatus(const UiStatus& status);
  UiStatus GetUiStatus() const;
  bool HasUiStatus() const;

  NetworkTransport& Network() { return network_; }
  Pacer& PacerForTesting() { return pacer_; }

 private:
  void Dispatch(uint8_t opcode, const uint8_t* payload, size_t length);
  void NotifyNewClient();
  void NotifyUdpFailures();
  void ReplayCachedSettings(ITransportClient* instance);

  const uint16_t controlPort_;
  NetworkTransport network_;
  Pacer pacer_;
  std::mutex instanceLock_;  // held for every call into instances
  std::vector<ITransportClient*> instances_ GUARDED_BY(instanceLock_);
  std::atomic<bool> started_{false};
  std::mutex startLock_;

  std::atomic<uint16_t> videoFrameId_{0};
  std::atomic<uint16_t> audioFrameId_{0};
  std::atomic<uint32_t> videoSequence_{0};
  std::atomic<uint32_t> audioSequence_{0};

  std::atomic<int32_t> cachedQuality_{-1};
  std::atomic<int32_t> cachedShortSide_{0};
  std::atomic<int32_t> cachedCodec_{-1};
  std::atomic<int32_t> cachedGopSize_{0};
  std::atomic<int32_t> cachedGopMode_{-1};
  std::atomic<int32_t> cachedRateControl_{-1};
  std::atomic<bool> settingsCached_{false};
  std::atomic<int> lastPlaybackState_{-1};  // -1 until the control surface published one

  mutable std::mutex uiStatusLock_;
  UiStatus uiStatus_ GUARDED_BY(uiStatusLock_);
  bool uiStatusFresh_ GUARDED_BY(uiStatusLock_) = false;
};

}  // namespace Sorvane
