#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "net/pacer.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

std::vector<std::vector<uint8_t>> Group(size_t datagrams, size_t size = 1000) {
  return std::vector<std::vector<uint8_t>>(datagrams, std::vector<uint8_t>(size, 0xAB));
}

size_t CountIn(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

using test::TestLog;

// Records when (on the manual clock) each datagram was handed over.
struct Recorder {
  explicit Recorder(const Clock& c) : clock(c) {}
  const Clock& clock;
  bool succeed = true;
  std::mutex lock;
  std::vector<int64_t> times;
  Pacer::Sender Sender() {
    return [this](const uint8_t*, size_t) {
      std::lock_guard<std::mutex> guard(lock);
      times.push_back(clock.NowNs());
      return succeed;
    };
  }
  size_t Count() {
    std::lock_guard<std::mutex> guard(lock);
    return times.size();
  }
};

void WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(PacerQueue, SixthVideoGroupDropsTheOldestOnceReported) {
  Pacer pacer;
  const size_t before = CountIn(TestLog(), "Pacer overflow:");
  for (int i = 0; i < 6; ++i)
    pacer.EnqueueVideo(Group(2));
  EXPECT_EQ(pacer.QueuedGroups(true), 5u);
  EXPECT_EQ(pacer.TotalDropped(), 1u);
  EXPECT_EQ(pacer.QueuedBytes(), 5u * 2000);
  const std::string log = TestLog();
  EXPECT_EQ(CountIn(log, "Pacer overflow:"), before + 1);
  EXPECT_NE(log.find("Pacer overflow: dropped 1 video frame(s) in last ~1s (2000 bytes). queue=5"),
            std::string::npos);
  pacer.EnqueueVideo(Group(1));
  EXPECT_EQ(CountIn(TestLog(), "Pacer overflow:"), before + 1) << "at most one report a second";
  pacer.EnqueueVideo({});
  EXPECT_EQ(pacer.QueuedGroups(true), 5u) << "an empty group is ignored";
}

TEST(PacerQueue, KindsNeverEvictEachOther) {
  Pacer pacer;
  for (int i = 0; i < 5; ++i)
    pacer.EnqueueVideo(Group(1));
  for (int i = 0; i < 5; ++i)
    pacer.EnqueueAudio(Group(1));
  EXPECT_EQ(pacer.QueuedGroups(false), 4u) << "audio keeps four";
  EXPECT_EQ(pacer.QueuedGroups(true), 5u) << "an audio overflow leaves video alone";
  pacer.EnqueueVideo(Group(1));
  EXPECT_EQ(pacer.QueuedGroups(false), 4u) << "a video overflow leaves audio alone";
  EXPECT_EQ(pacer.TotalDropped(), 2u);
  pacer.ClearQueue();
  EXPECT_EQ(pacer.QueuedGroups(true) + pacer.QueuedGroups(false), 0u);
  EXPECT_EQ(pacer.QueuedBytes(), 0u);
  EXPECT_NE(TestLog().find("Pacer queue cleared: 9 frame groups (9000 bytes) discarded"),
            std::string::npos);
}

TEST(PacerLifecycle, NothingIsSentAfterStop) {
  Recorder recorder{SteadyClock()};
  Pacer pacer;
  pacer.EnqueueVideo(Group(3));
  pacer.Start(recorder.Sender(), recorder.Sender());
  pacer.SetBitrate(100'000'000);
  WaitFor([&] { return recorder.Count() == 3; });
  EXPECT_EQ(recorder.Count(), 3u) << "groups queued before Start are sent";
  pacer.Stop();
  pacer.EnqueueVideo(Group(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(recorder.Count(), 3u);
  EXPECT_EQ(pacer.QueuedGroups(true), 1u) << "it waits in the queue";
  EXPECT_NE(TestLog().find("Pacer stopped dropped="), std::string::npos);
}

// With the bucket empty, each 1000-byte datagram waits 1000 × 8 / bitrate seconds.
TEST(PacerTiming, SpacingFollowsTheBitrateAndFailuresStillPay) {
  test::ManualClock clock;
  Recorder recorder{clock};
  recorder.succeed = false;
  Pacer pacer(clock);
  pacer.SetBitrate(8'000'000);  // 1 000 000 bytes/s: 1 ms per datagram
  pacer.Start(recorder.Sender(), recorder.Sender());
  pacer.EnqueueVideo(Group(4));
  WaitFor([&] { return recorder.Count() == 4; });
  ASSERT_EQ(recorder.Count(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_NEAR(recorder.times[i] - recorder.times[i - 1], 1'000'000, 60'000) << i;
  }
  EXPECT_EQ(pacer.TotalFailedSends(), 4u);
  EXPECT_EQ(pacer.TotalBytesSent(), 0u);

  pacer.SetBitrate(16'000'000);
  recorder.succeed = true;
  pacer.EnqueueVideo(Group(4));
  WaitFor([&] { return recorder.Count() == 8; });
  ASSERT_EQ(recorder.Count(), 8u);
  for (size_t i = 5; i < 8; ++i) {
    EXPECT_NEAR(recorder.times[i] - recorder.times[i - 1], 500'000, 60'000) << i;
  }
  EXPECT_EQ(pacer.TotalBytesSent(), 4000u);
  pacer.Stop();
}

// The figures of the running system: 1466-byte datagrams at 15 and then 30 Mbit/s.
TEST(PacerTiming, DoublingTheBitrateHalvesTheSpacing) {
  test::ManualClock clock;
  Recorder recorder{clock};
  Pacer pacer(clock);
  pacer.Start(recorder.Sender(), recorder.Sender());
  EXPECT_EQ(CountIn(TestLog(), "Pacer started"), 1u);
  EXPECT_NE(TestLog().find("Pacer started bitrate=15000000 bps"), std::string::npos);
  pacer.EnqueueVideo(Group(30, 1466));
  WaitFor([&] { return recorder.Count() == 30; });
  pacer.SetBitrate(30'000'000);
  pacer.EnqueueVideo(Group(30, 1466));
  WaitFor([&] { return recorder.Count() == 60; });
  ASSERT_EQ(recorder.Count(), 60u);
  // Leave out the bucket's start and the switch; compare steady spacing.
  const double slow = (recorder.times[29] - recorder.times[9]) / 20.0;
  const double fast = (recorder.times[59] - recorder.times[39]) / 20.0;
  EXPECT_NEAR(slow, 1466 * 8 / 15e6 * 1e9, 5'000);
  EXPECT_NEAR(fast / slow, 0.5, 0.015);
  pacer.Stop();
}

TEST(PacerTiming, IdleTimeEarnsAtMostTenMillisecondsOfBurst) {
  test::ManualClock clock;
  Recorder recorder{clock};
  Pacer pacer(clock);
  pacer.SetBitrate(8'000'000);  // the bucket holds 10 000 bytes
  pacer.Start(recorder.Sender(), recorder.Sender());
  clock.Advance(5'000'000'000);  // a long idle time
  pacer.EnqueueVideo(Group(15));
  WaitFor([&] { return recorder.Count() == 15; });
  ASSERT_EQ(recorder.Count(), 15u);
  size_t burst = 1;
  while (burst < 15 && recorder.times[burst] == recorder.times[0])
    ++burst;
  EXPECT_EQ(burst, 10u);
  pacer.Stop();
}

TEST(PacerTiming, AtFifteenMegabitsTwelveFullDatagramsLeaveBackToBack) {
  test::ManualClock clock;
  Recorder recorder{clock};
  Pacer pacer(clock);
  pacer.Start(recorder.Sender(), recorder.Sender());
  clock.Advance(1'000'000'000);
  pacer.EnqueueVideo(Group(20, 1466));
  WaitFor([&] { return recorder.Count() == 20; });
  ASSERT_EQ(recorder.Count(), 20u);
  size_t burst = 1;
  while (burst < 20 && recorder.times[burst] == recorder.times[0])
    ++burst;
  EXPECT_EQ(burst, 12u) << "18750 bytes of bucket";
  pacer.Stop();
}

// A clock whose sleeps advance it, remembering the longest.
class SleepRecordingClock final : public Clock {
 public:
  int64_t NowNs() const override { return now_.load(); }
  void SleepForNs(int64_t ns) const override {
    sleeps_.fetch_add(1);
    int64_t longest = longest_.load();
    while (ns > longest && !longest_.compare_exchange_weak(longest, ns)) {
    }
    now_.fetch_add(ns);
  }
  int64_t Longest() const { return longest_.load(); }
  int64_t Sleeps() const { return sleeps_.load(); }

 private:
  mutable std::atomic<int64_t> now_{1'000'000'000};
  mutable std::atomic<int64_t> longest_{0};
  mutable std::atomic<int64_t> sleeps_{0};
};

// A bitrate too low for 10 ms of it to hold a datagram (1000 bit/s) still sends it, after as
// long as its size takes at that rate. The wait goes in short steps, so a raised bitrate or Stop
// is seen at once; a bitrate of 0 sends nothing.
TEST(PacerLifecycle, ALowBitrateWaitsInShortStepsAsLongAsTheDatagramTakes) {
  SleepRecordingClock clock;
  Recorder recorder{clock};
  Pacer pacer(clock);
  pacer.SetBitrate(1000);
  pacer.Start(recorder.Sender(), recorder.Sender());
  const int64_t start = clock.NowNs();
  pacer.EnqueueVideo(Group(1, 1466));
  WaitFor([&] { return recorder.Count() == 1; });
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_NEAR(recorder.times[0] - start, 1466 * 8 * 1e9 / 1000, 10'000'000);
  EXPECT_LE(clock.Longest(), 10'000'000) << "never one long sleep";

  pacer.SetBitrate(0);
  const int64_t sleeps = clock.Sleeps();
  pacer.EnqueueVideo(Group(1, 1466));
  WaitFor([&] { return clock.Sleeps() > sleeps + 100; });
  EXPECT_EQ(recorder.Count(), 1u);
  pacer.SetBitrate(100'000'000);
  WaitFor([&] { return recorder.Count() == 2; });
  EXPECT_EQ(recorder.Count(), 2u);

  pacer.SetBitrate(0);
  pacer.EnqueueVideo(Group(1, 1466));  // taken by the thread, which then waits
  WaitFor([&] { return pacer.QueuedGroups(true) == 0; });
  pacer.EnqueueVideo(Group(2, 1466));
  pacer.EnqueueAudio(Group(2, 1466));
  pacer.Stop();  // returns: the wait is in steps
  EXPECT_EQ(recorder.Count(), 2u);
  EXPECT_EQ(pacer.QueuedGroups(true) + pacer.QueuedGroups(false), 0u) << "Stop discards the queue";
  EXPECT_EQ(pacer.QueuedBytes(), 0u);
  EXPECT_LE(clock.Longest(), 10'000'000);
}

// A clock whose sleeps last at least a 15.6 ms timer tick, as a plain sleep does on Windows.
class TickGrainedClock final : public Clock {
 public:
  int64_t NowNs() const override { return now_.load(); }
  void SleepForNs(int64_t ns) const override { now_.fetch_add(std::max<int64_t>(ns, 15'625'000)); }

 private:
  mutable std::atomic<int64_t> now_{1'000'000'000};
};

// The time a sleep overshoots is owed to the waiting datagrams, not thrown away with the 10 ms
// cap: at 300 Mbit/s the pacer keeps at least 95 % of the rate (and never more than the rate).
TEST(PacerTiming, SleepsThatLastATimerTickStillKeepTheRate) {
  TickGrainedClock clock;
  Recorder recorder{clock};
  Pacer pacer(clock);
  pacer.SetBitrate(300'000'000);
  pacer.Start(recorder.Sender(), recorder.Sender());
  constexpr size_t kGroups = 5, kDatagrams = 3000, kSize = 1466;  // the queue holds five
  const int64_t start = clock.NowNs();
  for (size_t i = 0; i < kGroups; ++i)
    pacer.EnqueueVideo(Group(kDatagrams, kSize));
  WaitFor([&] { return recorder.Count() == kGroups * kDatagrams; });
  ASSERT_EQ(recorder.Count(), kGroups * kDatagrams);
  const double seconds = (recorder.times.back() - start) / 1e9;
  const double rate = kGroups * kDatagrams * kSize * 8 / seconds;
  std::printf("[ figure ] %.1f Mbit/s of 300 with sleeps of a whole timer tick\n", rate / 1e6);
  EXPECT_GE(rate, 0.95 * 300e6) << rate / 1e6 << " Mbit/s";
  EXPECT_LE(rate, 1.01 * 300e6) << rate / 1e6 << " Mbit/s";
  pacer.Stop();
}

}  // namespace
}  // namespace Sorvane
