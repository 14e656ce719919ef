#pragma once
#include <atomic>
#include <cstdint>
#include <optional>

namespace Sorvane {

// The transmit state the phone is told: activity is reported at the first active poll,
// inactivity only after three inactive polls in a row, so a short pause between two renders does
// not make the phone's indicator flicker. Reset runs on a connection's read thread and Poll on
// the poll thread, so both fields are atomics.
class TransmitStateDebounce {
 public:
  static constexpr int32_t kInactivePolls = 3;

  struct Edge {
    bool active = false;
    int32_t inactivePolls = 0;  // how many inactive polls led to an inactive edge
  };

  // Starts over from a state just told to the phone.
  void Reset(bool active) {
    active_.store(active);
    inactivePolls_.store(0);
  }
  // One poll of the instances' activity; the change to report, if any.
  std::optional<Edge> Poll(bool anyInstanceActive);
  bool Active() const { return active_.load(); }

 private:
  std::atomic<bool> active_{false};
  std::atomic<int32_t> inactivePolls_{0};
};

}  // namespace Sorvane
