#pragma once
// Where a host, another module or a foreign thread calls into a plug-in, no exception may pass
// back out: the caller is C (or a thread of the host's), and an exception reaching it ends the
// host. Both plug-ins put these guards at their entries. Header-only, over the log alone.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <new>
#include <utility>

#include "diag/log.h"

namespace Sorvane {

// Catches whatever one entry throws. The first exception is logged (Fault), later ones are not,
// so an entry failing on every frame does not flood the log.
class HostEntryGuard {
 public:
  // `where` and `outcome` complete the Fault line: "<entry>: exception stopped <where> (<what>) —
  // <outcome>".
  HostEntryGuard(const LogChannel& channel, const char* entry, const char* where = "at the entry",
                 const char* outcome = "the caller gets an error")
      : channel_(channel), entry_(entry), where_(where), outcome_(outcome) {}
  HostEntryGuard(const HostEntryGuard&) = delete;
  HostEntryGuard& operator=(const HostEntryGuard&) = delete;

  // The body's result, or the failure code the caller's SDK has for it.
  template <typename Result, typename Body>
  Result Run(Result outOfMemory, Result failed, Body&& body) noexcept {
    try {
      return std::forward<Body>(body)();
    } catch (const std::bad_alloc& e) {
      Report(e.what());
      return outOfMemory;
    } catch (const std::exception& e) {
      Report(e.what());
      return failed;
    } catch (...) {
      Report("unknown exception");
      return failed;
    }
  }

  // For a body without a result: false when it threw.
  template <typename Body>
  bool Run(Body&& body) noexcept {
    return Run(false, false, [&] {
      std::forward<Body>(body)();
      return true;
    });
  }

 private:
  void Report(const char* what) noexcept {
    if (reported_.exchange(true))
      return;
    Log(channel_, kLogFault,
        "%s: exception stopped %s (%s) — %s; further exceptions here are not logged", entry_,
        where_, what, outcome_);
  }

  const LogChannel channel_;
  const char* const entry_;
  const char* const where_;
  const char* const outcome_;
  std::atomic<bool> reported_{false};
};

// An entry's name as a template argument, so each wrapped entry has a guard of its own.
template <size_t N>
struct EntryName {
  constexpr EntryName(const char (&text)[N]) { std::copy_n(text, N, value); }
  char value[N];
};

// GuardedEntry<Policy, "Name", Function>::Call has Function's signature and runs it behind a
// guard. Policy gives the channel (kChannel) and the results for an allocation failure
// (kOutOfMemory) and any other exception (kFailed).
template <typename Policy, EntryName Name, auto Entry>
struct GuardedEntry;

template <typename Policy, EntryName Name, typename Result, typename... Args,
          Result (*Entry)(Args...)>
struct GuardedEntry<Policy, Name, Entry> {
  static Result Call(Args... args) noexcept {
    static HostEntryGuard guard(Policy::kChannel, Name.value);
    return guard.Run(Policy::kOutOfMemory, Policy::kFailed, [&] { return Entry(args...); });
  }
};

// Runs `body` behind a guard of its own for this call site (each lambda has its own type, so
// each gets its own guard; pass only lambdas).
template <typename Policy, typename Body>
auto RunGuarded(const char* entry, Body&& body) noexcept {
  static HostEntryGuard guard(Policy::kChannel, entry);
  return guard.Run(Policy::kOutOfMemory, Policy::kFailed, std::forward<Body>(body));
}

}  // namespace Sorvane
