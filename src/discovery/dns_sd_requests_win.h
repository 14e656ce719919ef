#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "discovery/dns_sd_api_win.h"
#include "discovery/self_heal_state.h"

// What the DNSAPI advertiser hands to DNSAPI and gets back in its callbacks.
namespace Sorvane::dnssdwin {

// One registration: the request DNSAPI was given, and the instances it refers to.
// DnsServiceDeRegister takes the original request, so all of it lives until the deregistration has
// completed.
struct ServiceRegistration {
  explicit ServiceRegistration(const DnsSdApi& table) : api(table) {}
  ~ServiceRegistration();
  ServiceRegistration(const ServiceRegistration&) = delete;
  ServiceRegistration& operator=(const ServiceRegistration&) = delete;
  // Keeps an instance a completion handed back, unless it is one we already hold.
  void Adopt(PDNS_SERVICE_INSTANCE given);
  const DNS_SERVICE_INSTANCE* Registered() const { return delivered ? delivered : instance; }

  const DnsSdApi api;
  DNS_SERVICE_REGISTER_REQUEST request{};
  DNS_SERVICE_CANCEL cancel{};
  PDNS_SERVICE_INSTANCE instance = nullptr;   // built by us, referenced by request
  PDNS_SERVICE_INSTANCE delivered = nullptr;  // handed back by the completion, when different
};

// The completion of one register or deregister request. A registration whose waiter gave up goes
// here and is freed by the completion when it comes, or with the context after a grace period.
struct CompletionContext {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;                            // mutex
  DWORD status = 0;                             // mutex
  PDNS_SERVICE_INSTANCE given = nullptr;        // mutex
  std::unique_ptr<ServiceRegistration> orphan;  // mutex
};

// A running browse. The advertiser lets go by clearing `owner` under `mutex`, which a callback
// holds across its check and its report, then cancels.
struct BrowseContext {
  BrowseContext(const DnsSdApi& table, SelfHealState* state) : api(table), owner(state) {}

  const DnsSdApi api;
  std::mutex mutex;
  SelfHealState* owner;  // mutex; null once the advertiser has let go
  DNS_SERVICE_CANCEL cancel{};
};

// What DNSAPI gets as a callback context: a ticket number, never a pointer. A context lives while
// its ticket is valid; a callback that comes after the ticket was withdrawn (a request given up
// long ago) finds nothing instead of freed memory. Process-wide, never destroyed, since DNSAPI may
// call back while the process exits.
template <typename Context>
class Tickets {
 public:
  static Tickets& Get() {
    static auto* tickets = new Tickets;
    return *tickets;
  }
  PVOID Issue(std::shared_ptr<Context> context) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t number = next_++;
    live_.emplace(number, std::move(context));
    return reinterpret_cast<PVOID>(number);
  }
  std::shared_ptr<Context> Find(PVOID ticket) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = live_.find(reinterpret_cast<uintptr_t>(ticket));
    return it == live_.end() ? nullptr : it->second;
  }
  // The context goes once its last user lets go; later callbacks find nothing.
  void Withdraw(PVOID ticket) {
    std::shared_ptr<Context> context;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = live_.find(reinterpret_cast<uintptr_t>(ticket));
    if (it == live_.end())
      return;
    context = std::move(it->second);
    live_.erase(it);
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
  }

 private:
  mutable std::mutex mutex_;
  uintptr_t next_ = 1;
  std::map<uintptr_t, std::shared_ptr<Context>> live_;
};

// Register and deregister completions, and browse results, as DNSAPI calls them.
void WINAPI OnRequestComplete(DWORD status, PVOID ticket, PDNS_SERVICE_INSTANCE instance);
void WINAPI OnBrowseResult(DWORD status, PVOID ticket, PDNS_RECORD records);

// DNSAPI's UTF-16 text as UTF-8 (empty for null).
std::string Utf8(const wchar_t* text);

// Requests DNSAPI may still call back about, of every advertiser in the process.
size_t RequestsInFlight();

}  // namespace Sorvane::dnssdwin
