#include "net/transmit_state_debounce.h"

namespace Sorvane {

std::optional<TransmitStateDebounce::Edge> TransmitStateDebounce::Poll(bool anyInstanceActive) {
  if (anyInstanceActive) {
    inactivePolls_.store(0);
    if (active_.exchange(true))
      return std::nullopt;
    return Edge{true, 0};
  }
  if (!active_.load())
    return std::nullopt;
  const int32_t polls = inactivePolls_.fetch_add(1) + 1;
  if (polls < kInactivePolls)
    return std::nullopt;
  active_.store(false);
  inactivePolls_.store(0);
  return Edge{false, polls};
}

}  // namespace Sorvane
