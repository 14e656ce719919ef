#pragma once
#include <atomic>
#include <mutex>
#include <optional>

#include "sdk/control_surface_host.h"
#include "sdk/control_surface_string.h"

namespace Sorvane::ctrl {

// One connection's host suites and references. Shared by the plug-in instance, the bridge and
// the worker threads; other threads use the suites only under `lock` after checking `connected`.
struct TransportCtx {
  explicit TransportCtx(const sdk::SPBasicSuite* basicSuite) : basic(basicSuite) {}
  ~TransportCtx();  // releases the suites it holds
  TransportCtx(const TransportCtx&) = delete;
  TransportCtx& operator=(const TransportCtx&) = delete;

  // True when the transport and command actions can be run (suites and references present).
  bool CanRunActions() const;
  // The host's play state byte (1 playing); nullopt without the transport suite and reference.
  // Call under `lock`.
  std::optional<uint8_t> QueryPlayState() const;
  // Clears `connected`, then waits for an action in flight to finish (on the host's UI thread,
  // a bounded wait; see LockOnUiThread).
  void Retire();
  // `lock` for code on the host's UI thread. Another thread may hold it while it waits for that
  // UI thread (a host command the host runs there, say), so the wait is bounded: after a second
  // the lock is not held and the step is skipped with a line naming `what`.
  std::unique_lock<std::timed_mutex> LockOnUiThread(const char* what);

  // Written on the UI thread before `connected` is set, read-only afterwards.
  const sdk::SPBasicSuite* const basic;
  const sdk::ADOBESDK_ControlSurfaceHostSuite2* hostSuite = nullptr;
  const sdk::ADOBESDK_ControlSurfaceHostTransportSuite1* transportSuite = nullptr;
  const sdk::ADOBESDK_ControlSurfaceHostCommandSuite1* commandSuite = nullptr;
  const sdk::ADOBESDK_StringSuite1* stringSuite = nullptr;
  sdk::ControlSurfaceHostRef hostRef = nullptr;
  sdk::ControlSurfaceHostTransportRef transportRef = nullptr;
  sdk::ControlSurfaceHostCommandRef commandRef = nullptr;

  std::timed_mutex lock;  // serialises every use of the suites by threads other than the UI thread
  std::atomic<bool> connected{false};
};

// Acquires the host, transport and command suites and the transport and command references;
// false (with an Error line) when any is missing.
bool AcquireHostSuites(TransportCtx& ctx);

// Lists the host's commands in the log (diagnostic only).
void LogHostCommands(const TransportCtx& ctx);

}  // namespace Sorvane::ctrl
