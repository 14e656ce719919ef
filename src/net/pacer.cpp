#include "net/pacer.h"

#include <algorithm>

#include "diag/crash_handler.h"
#include "diag/log_channels.h"
#include "diag/thread_guard.h"

namespace Sorvane {
namespace {

constexpr int64_t kReportSpacingNs = 1'000'000'000;
constexpr double kBucketSeconds = 0.010;
constexpr int64_t kMinSleepNs = 50'000;
// The bucket never holds more than 10 ms of sending, so a longer wait can never be needed by a
// datagram that fits; longer waits (a bitrate too low for the datagram, or 0) go in steps so a
// raised bitrate or Stop is seen within one step instead of after minutes.
constexpr int64_t kMaxSleepNs = 10'000'000;

}  // namespace

Pacer::Pacer(const Clock& clock) : clock_(clock) {}

Pacer::~Pacer() {
  Stop();
}

void Pacer::Start(Sender videoSender, Sender audioSender) {
  if (running_.load())
    return;
  videoSender_ = std::move(videoSender);
  audioSender_ = std::move(audioSender);
  lastRefillNs_ = clock_.NowNs();
  balanceBytes_ = 0;
  idle_ = true;
  running_.store(true);
  thread_ = std::thread(&Pacer::SendLoop, this);
  Log(channels::kPacer, kLogInfo, "Pacer started bitrate=%u bps", bitrate_.load());
}

void Pacer::Stop() {
  if (!running_.exchange(false))
    return;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.clear();
    queuedVideo_ = queuedAudio_ = 0;
    queuedBytes_.store(0);
  }
  queueCv_.notify_all();
  if (thread_.joinable())
    thread_.join();
  videoSender_ = nullptr;
  audioSender_ = nullptr;
  Log(channels::kPacer, kLogInfo, "Pacer stopped dropped=%llu failed=%llu bytes=%llu",
      static_cast<unsigned long long>(totalDropped_.load()),
      static_cast<unsigned long long>(totalFailed_.load()),
      static_cast<unsigned long long>(totalBytesSent_.load()));
}

void Pacer::EnqueueVideo(std::vector<std::vector<uint8_t>> datagrams) {
  Enqueue(true, std::move(datagrams));
}

void Pacer::EnqueueAudio(std::vector<std::vector<uint8_t>> datagrams) {
  Enqueue(false, std::move(datagrams));
}

void Pacer::Enqueue(bool video, std::vector<std::vector<uint8_t>> datagrams) {
  if (datagrams.empty())
    return;
  FrameGroup group;
  group.video = video;
  for (const auto& d : datagrams)
    group.bytes += d.size();
  group.datagrams = std::move(datagrams);
  const uint64_t bytes = group.bytes;
  uint64_t droppedBytes = 0;
  bool dropped = false;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    const uint64_t limit = video ? videoGroupLimit_.load() : kAudioGroupLimit;
    uint64_t& count = video ? queuedVideo_ : queuedAudio_;
    while (count >= limit) {
      const auto oldest = std::find_if(queue_.begin(), queue_.end(),
                                       [video](const FrameGroup& g) { return g.video == video; });
      if (oldest == queue_.end())
        break;
      queuedBytes_.fetch_sub(oldest->bytes);
      droppedBytes += oldest->bytes;
      totalDropped_.fetch_add(1);
      --count;
      dropped = true;
      queue_.erase(oldest);
    }
    queue_.push_back(std::move(group));
    ++count;
    queuedBytes_.fetch_add(bytes);  // under the lock, or a ClearQueue in between leaves it behind
  }
  queueCv_.notify_one();
  if (dropped)
    ReportOverflow(droppedBytes);
}

// At most one line a second, claimed by whichever enqueue wins the swap of the report time.
void Pacer::ReportOverflow(uint64_t droppedBytes) {
  windowDroppedGroups_.fetch_add(1);
  windowDroppedBytes_.fetch_add(droppedBytes);
  const int64_t now = std::max<int64_t>(clock_.NowNs(), 1);  // 0 means "never reported"
  int64_t last = lastReportNs_.load();
  if (last != 0 && now - last < kReportSpacingNs)
    return;
  if (!lastReportNs_.compare_exchange_strong(last, now))
    return;
  const uint64_t groups = windowDroppedGroups_.exchange(0);
  const uint64_t bytes = windowDroppedBytes_.exchange(0);
  Log(channels::kPacer, kLogInfo,
      "Pacer overflow: dropped %zu video frame(s) in last ~1s (%zu bytes). queue=%zu "
      "queuedBytes=%zu bitrate=%u bps total_dropped=%llu",
      static_cast<size_t>(groups), static_cast<size_t>(bytes), QueuedGroups(true),
      static_cast<size_t>(queuedBytes_.load()), bitrate_.load(),
      static_cast<unsigned long long>(totalDropped_.load()));
}

void Pacer::ClearQueue() {
  size_t groups = 0;
  uint64_t bytes = 0;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    groups = queue_.size();
    bytes = queuedBytes_.load();
    queue_.clear();
    queuedVideo_ = queuedAudio_ = 0;
    queuedBytes_.store(0);
  }
  if (groups > 0) {
    Log(channels::kPacer, kLogInfo, "Pacer queue cleared: %zu frame groups (%zu bytes) discarded",
        groups, static_cast<size_t>(bytes));
  }
}

size_t Pacer::QueuedGroups(bool video) const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return static_cast<size_t>(video ? queuedVideo_ : queuedAudio_);
}

void Pacer::SendLoop() {
  PrepareThreadForCrashes();
  static ThreadGuard guard(channels::kPacer, "pacer thread");
  guard.Run([this] { SendQueued(); });
}

void Pacer::SendQueued() {
  for (;;) {
    FrameGroup group;
    {
      std::unique_lock<std::mutex> lock(queueLock_);
      if (queue_.empty())
        idle_ = true;
      queueCv_.wait(lock, [this] { return !queue_.empty() || !running_.load(); });
      if (!running_.load())
        return;
      group = std::move(queue_.front());
      queue_.pop_front();
      --(group.video ? queuedVideo_ : queuedAudio_);
      queuedBytes_.fetch_sub(group.bytes);
    }
    const Sender& send = group.video ? videoSender_ : audioSender_;
    for (const auto& datagram : group.datagrams) {
      if (!Pace(datagram.size()))
        return;
      if (send && send(datagram.data(), datagram.size())) {
        totalBytesSent_.fetch_add(datagram.size());
      } else {
        totalFailed_.fetch_add(1);
      }
    }
  }
}

bool Pacer::Pace(size_t size) {
  for (;;) {
    if (!running_.load())
      return false;
    const int64_t now = clock_.NowNs();
    const double byteRate = bitrate_.load() / 8.0;
    balanceBytes_ += (now - lastRefillNs_) / 1e9 * byteRate;
    lastRefillNs_ = now;
    // Only idle time is capped. While datagrams wait, every moment is owed: a sleep that lasts a
    // whole timer tick (15.6 ms on Windows without a precise timer) must not lose its budget.
    if (idle_) {
      balanceBytes_ = std::min(balanceBytes_, byteRate * kBucketSeconds);
      idle_ = false;
    }
    if (balanceBytes_ >= static_cast<double>(size)) {
      balanceBytes_ -= static_cast<double>(size);
      return true;
    }
    const double waitUs = byteRate > 0 ? (size - balanceBytes_) / byteRate * 1e6 : 1e9;
    const int64_t waitNs = static_cast<int64_t>(std::min(waitUs, 1e9)) * 1000;  // whole µs
    clock_.SleepForNs(std::clamp(waitNs, kMinSleepNs, kMaxSleepNs));
  }
}

}  // namespace Sorvane
