#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace Sorvane::receiver {

// The weather of a network link as the receiver sees it: bursty loss (the Gilbert-Elliott model:
// a good state without loss and a bad state that loses every datagram), a rate policer that drops
// what exceeds the link's rate beyond a short burst, and a random delay per datagram whose spread
// reorders them.
struct LinkProfile {
  std::string name;
  double lossPercent = 0;     // mean share of datagrams lost in bursts
  double burstDatagrams = 1;  // mean length of a burst of losses
  double delayMs = 0;         // mean delay
  double jitterMs = 0;        // the delay spreads evenly this far either side of the mean
  double rateMbit = 0;        // 0: no policer
  double burstMs = 50;        // how much the policer lets through above the rate at once
};

// "wifi", "congested", or key=value pairs separated by commas (loss=%, burst=datagrams,
// delay=ms, jitter=ms, rate=Mbit/s, policer-burst=ms), starting from no weather at all.
std::optional<LinkProfile> ParseLinkProfile(const std::string& text, std::string* error);
std::string DescribeLinkProfile(const LinkProfile& profile);

// Drops what arrives faster than the rate (shared by the streams of one link).
class RatePolicer {
 public:
  RatePolicer(double bitsPerSecond, double burstSeconds);
  bool Admit(size_t bytes, int64_t nowUs);

 private:
  std::mutex lock_;
  const double bytesPerUs_;
  const double depthBytes_;
  double tokens_;        // guarded by lock_
  int64_t lastUs_ = -1;  // guarded by lock_
};

// One stream's side of the link: datagrams go in as they arrive and come out when their delay has
// passed, unless the weather took them.
class LinkWeather {
 public:
  struct Stats {
    uint64_t arrived = 0;
    uint64_t lostInBursts = 0;
    uint64_t lostToRate = 0;
    uint64_t delivered = 0;
    uint64_t reordered = 0;  // came out before a datagram that went in earlier
  };

  // `policer` may be null (no rate limit) and is shared with the link's other streams.
  LinkWeather(const LinkProfile& profile, uint32_t seed, RatePolicer* policer);

  void Arrive(const uint8_t* data, size_t size, int64_t nowUs);
  // Hands every datagram whose time has come to `deliver`, in the order they come out.
  template <typename Deliver>
  void Release(int64_t nowUs, Deliver&& deliver) {
    while (!queue_.empty() && queue_.top().dueUs <= nowUs) {
      const Delayed& next = queue_.top();
      if (next.order < lastOutOrder_)
        ++stats_.reordered;
      lastOutOrder_ = std::max(lastOutOrder_, next.order);
      ++stats_.delivered;
      deliver(next.bytes.data(), next.bytes.size());
      queue_.pop();
    }
  }
  // When the next datagram comes out; nullopt while none waits.
  std::optional<int64_t> NextDueUs() const;
  const Stats& stats() const { return stats_; }

 private:
  struct Delayed {
    int64_t dueUs;
    uint64_t order;
    std::vector<uint8_t> bytes;
    bool operator>(const Delayed& other) const {
      return dueUs != other.dueUs ? dueUs > other.dueUs : order > other.order;
    }
  };
  bool LostInBurst();

  const LinkProfile profile_;
  RatePolicer* const policer_;
  std::mt19937 rng_;
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  double goodToBad_ = 0;
  double badToGood_ = 1;
  bool bad_ = false;
  uint64_t order_ = 0;
  uint64_t lastOutOrder_ = 0;
  std::priority_queue<Delayed, std::vector<Delayed>, std::greater<Delayed>> queue_;
  Stats stats_;
};

}  // namespace Sorvane::receiver
