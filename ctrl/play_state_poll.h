#pragma once
#include <cstdint>
#include <memory>
#include <optional>

#include "bridge/ctrl_bridge.h"

namespace Sorvane::ctrl {

struct TransportCtx;

// Decides when a play state is worth telling the phone: the first state at once, a stop at once,
// a start only after it held for 300 ms (the host flickers to "playing" while scrubbing).
class PlayStateDebouncer {
 public:
  // The state to publish now, if any.
  std::optional<bool> Observe(bool playing, int64_t nowNs);
  bool lastPublished() const { return published_; }

 private:
  bool anyPublished_ = false;
  bool published_ = false;
  std::optional<int64_t> riseSinceNs_;
};

// The transmit plug-in's publish export, looked up once per process among the loaded modules.
TransmitPublishFn ResolveTransmitPublishFn();

// Starts the poll thread of a freshly connected context; it ends once the context is
// disconnected or the plug-in shuts down.
void StartPlayStatePoll(std::shared_ptr<TransportCtx> ctx);

}  // namespace Sorvane::ctrl
