#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "sdk/ppix_suite.h"
#include "sdk/sp_basic.h"
#include "sdk/time_suite.h"
#include "sdk/transmit.h"

namespace Sorvane::hostsim {

// The host's side of the SDK: an SPBasicSuite that hands out the PPix and Time suites, and the
// frames (PPix handles) the host renders and the plug-in must dispose.
class HostSuites {
 public:
  static HostSuites& Instance();

  const sdk::SPBasicSuite* Basic() const;
  // The record the host passes in tmStdParms; its utilFuncs->getSPBasicSuite returns Basic().
  sdk::piSuites* PiSuites();

  // A new host-owned BGRA frame; `rowBytes` may exceed width × 4.
  sdk::PPixHand NewFrame(int width, int height, int rowBytes,
                         sdk::PrPixelFormat format = sdk::PrPixelFormat_BGRA_4444_8u);
  static uint8_t* Pixels(sdk::PPixHand frame);
  static int RowBytes(sdk::PPixHand frame);

  // Host tick rate (ticks per second), constant for the process like the real host's.
  static constexpr sdk::PrTime kTicksPerSecond = 254016000000;
  // Tests may answer another tick rate (0 or less = a broken suite).
  void SetTicksPerSecond(sdk::PrTime ticks) { ticksPerSecond_.store(ticks); }
  sdk::PrTime ticksPerSecond() const { return ticksPerSecond_.load(); }

  // What the plug-in did with the suites and frames.
  struct Counters {
    std::atomic<int64_t> framesCreated{0};
    std::atomic<int64_t> framesDisposed{0};
    std::atomic<int64_t> suiteAcquires{0};
    std::atomic<int64_t> suiteReleases{0};
  };
  Counters& counters() { return counters_; }

  // Makes AcquireSuite fail for the Time suite (tests the plug-in's fallback).
  void SetTimeSuiteAvailable(bool available) { timeSuiteAvailable_.store(available); }
  bool timeSuiteAvailable() const { return timeSuiteAvailable_.load(); }

 private:
  HostSuites() = default;
  Counters counters_;
  std::atomic<bool> timeSuiteAvailable_{true};
  std::atomic<sdk::PrTime> ticksPerSecond_{kTicksPerSecond};
};

}  // namespace Sorvane::hostsim
