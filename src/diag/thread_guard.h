#pragma once
// Every thread the plug-ins start runs inside the host's process: an exception leaving a thread
// body calls std::terminate and takes the host, with the user's unsaved work, down with it.
// Thread bodies run behind a ThreadGuard instead: the first exception of each kind of thread is
// logged at Fault, and the body (its loop, its connection) simply ends.
#include <utility>

#include "diag/host_entry_guard.h"

namespace Sorvane {

// One per kind of thread, usually a function-local static where the thread starts.
class ThreadGuard {
 public:
  ThreadGuard(const LogChannel& channel, const char* thread)
      : guard_(channel, thread, "in the thread", "its work ends, the host keeps running") {}

  // Runs `body`; false when it threw (its exception is logged, the first one only).
  template <typename Body>
  bool Run(Body&& body) noexcept {
    return guard_.Run(std::forward<Body>(body));
  }

 private:
  HostEntryGuard guard_;
};

}  // namespace Sorvane
