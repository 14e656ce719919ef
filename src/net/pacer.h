#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/thread_annotations.h"
#include "net/pacing_clock.h"

namespace Sorvane {

// One frame's (or audio packet's) datagrams, sent in order; the pacer owns them once queued.
struct FrameGroup {
  bool video = true;
  uint64_t bytes = 0;
  std::vector<std::vector<uint8_t>> datagrams;
};

// Sends queued datagram groups from its own thread at a set bitrate through a token bucket that
// holds at most 10 ms of sending after an idle time; keeps the queue short by dropping the oldest
// group of the same kind (at most 5 video and 4 audio groups wait).
class Pacer {
 public:
  using Sender = std::function<bool(const uint8_t* data, size_t length)>;

  explicit Pacer(const Clock& clock = PacingClock());
  ~Pacer();
  Pacer(const Pacer&) = delete;
  Pacer& operator=(const Pacer&) = delete;

  void Start(Sender videoSender, Sender audioSender);
  void Stop();
  void EnqueueVideo(std::vector<std::vector<uint8_t>> datagrams);
  void EnqueueAudio(std::vector<std::vector<uint8_t>> datagrams);
  void ClearQueue();
  void SetBitrate(uint32_t bitsPerSecond) { bitrate_.store(bitsPerSecond); }

  uint32_t Bitrate() const { return bitrate_.load(); }
  bool IsRunning() const { return running_.load(); }
  uint64_t TotalDropped() const { return totalDropped_.load(); }
  uint64_t TotalFailedSends() const { return totalFailed_.load(); }
  uint64_t TotalBytesSent() const { return totalBytesSent_.load(); }
  uint64_t QueuedBytes() const { return queuedBytes_.load(); }
  size_t QueuedGroups(bool video) const;

  static constexpr uint64_t kAudioGroupLimit = 4;

 private:
  void Enqueue(bool video, std::vector<std::vector<uint8_t>> datagrams);
  void ReportOverflow(uint64_t droppedBytes);
  void SendLoop();
  void SendQueued();
  // Waits until the bucket holds `size` bytes; false when the pacer stopped meanwhile.
  bool Pace(size_t size);

  const Clock& clock_;
  std::atomic<uint64_t> videoGroupLimit_{5};
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<uint32_t> bitrate_{15'000'000};
  mutable std::mutex queueLock_;
  std::condition_variable queueCv_;
  std::deque<FrameGroup> queue_ GUARDED_BY(queueLock_);
  uint64_t queuedVideo_ GUARDED_BY(queueLock_) = 0;
  uint64_t queuedAudio_ GUARDED_BY(queueLock_) = 0;
  // Installed by Start before the thread runs and cleared by Stop after it ended.
  Sender videoSender_;
  Sender audioSender_;
  // Token bucket: owned by the send thread. It holds at most 10 ms of sending after the queue ran
  // empty (`idle_`), and keeps whatever it earned while datagrams were waiting.
  int64_t lastRefillNs_ = 0;
  double balanceBytes_ = 0;
  bool idle_ = true;
  // Statistics (atomic).
  std::atomic<uint64_t> totalDropped_{0};
  std::atomic<uint64_t> totalFailed_{0};
  std::atomic<uint64_t> totalBytesSent_{0};
  std::atomic<uint64_t> windowDroppedGroups_{0};
  std::atomic<uint64_t> windowDroppedBytes_{0};
  std::atomic<int64_t> lastReportNs_{0};
  std::atomic<uint64_t> queuedBytes_{0};
};

}  // namespace Sorvane
