// sv-pacer-accuracy: sends bursts of 1466-byte datagrams through the real pacer at 15, 100 and
// 300 Mbit/s and compares the measured spacing with the ideal one. Prints JSON.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "net/pacer.h"

using namespace Sorvane;

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::puts("usage: sv-pacer-accuracy\nMeasures pacer spacing at 15, 100 and 300 Mbit/s (JSON).");
    return 0;
  }
  constexpr size_t kDatagram = 1466, kPerGroup = 200, kGroups = 10;
  std::printf("[\n");
  const uint32_t rates[] = {15'000'000, 100'000'000, 300'000'000};
  for (size_t r = 0; r < 3; ++r) {
    std::mutex lock;
    std::vector<int64_t> times;
    Pacer pacer;
    pacer.SetBitrate(rates[r]);
    auto sender = [&](const uint8_t*, size_t) {
      std::lock_guard<std::mutex> guard(lock);
      times.push_back(SteadyNowNs());
      return true;
    };
    pacer.Start(sender, sender);
    for (size_t g = 0; g < kGroups; ++g) {
      // Enqueue slower than the pacer drains so nothing overflows.
      pacer.EnqueueVideo(
          std::vector<std::vector<uint8_t>>(kPerGroup, std::vector<uint8_t>(kDatagram)));
      while (pacer.QueuedGroups(true) > 2)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    while (true) {
      std::lock_guard<std::mutex> guard(lock);
      if (times.size() == kPerGroup * kGroups)
        break;
    }
    pacer.Stop();
    const double ideal = kDatagram * 8.0 / rates[r] * 1e9;
    const double bucket = rates[r] / 8.0 * 0.010;
    std::vector<double> deviation;
    size_t burst = 1, maxBurst = 1;
    for (size_t i = 1; i < times.size(); ++i) {
      const double gap = static_cast<double>(times[i] - times[i - 1]);
      deviation.push_back(std::abs(gap - ideal));
      burst = gap < ideal / 4 ? burst + 1 : 1;
      maxBurst = std::max(maxBurst, burst);
    }
    const double average = static_cast<double>(times.back() - times.front()) / (times.size() - 1);
    std::sort(deviation.begin(), deviation.end());
    std::printf(
        "  {\"bitrateBps\": %u, \"idealSpacingUs\": %.2f, \"averageSpacingUs\": %.2f, "
        "\"averageRatio\": %.3f, \"p99DeviationUs\": %.1f, \"maxBurstDatagrams\": %zu, "
        "\"bucketDatagrams\": %.1f}%s\n",
        rates[r], ideal / 1000, average / 1000, average / ideal,
        deviation[deviation.size() * 99 / 100] / 1000, maxBurst, bucket / kDatagram,
        r + 1 < 3 ? "," : "");
  }
  std::printf("]\n");
  return 0;
}
