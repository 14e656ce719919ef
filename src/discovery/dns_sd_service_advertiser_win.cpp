#include "discovery/dns_sd_service_advertiser_win.h"

#include <atomic>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <mutex>
#include <vector>

#include "diag/log_channels.h"
#include "discovery/service_names.h"

namespace Sorvane {
namespace dnssdwin {

// One registration: the request DNSAPI was given, and the instances it refers to.
// DnsServiceDeRegister takes the original request, so all of it lives until the deregistration has
// completed.
struct ServiceRegistration {
  explicit ServiceRegistration(const DnsSdApi& table) : api(table) {}
  ~ServiceRegistration() {
    if (delivered != nullptr && delivered != instance)
      api.freeInstance(delivered);
    if (instance != nullptr)
      api.freeInstance(instance);
  }
  // Keeps an instance a completion handed back, unless it is one we already hold.
  void Adopt(PDNS_SERVICE_INSTANCE given) {
    if (given == nullptr || given == instance || given == delivered)
      return;
    if (delivered != nullptr)
      api.freeInstance(delivered);
    delivered = given;
  }
  const DNS_SERVICE_INSTANCE* Registered() const { return delivered ? delivered : instance; }

  const DnsSdApi api;
  DNS_SERVICE_REGISTER_REQUEST request{};
  DNS_SERVICE_CANCEL cancel{};
  PDNS_SERVICE_INSTANCE instance = nullptr;   // built by us, referenced by request
  PDNS_SERVICE_INSTANCE delivered = nullptr;  // handed back by the completion, when different
};

// The completion of one register or deregister request. DNSAPI may call back after our wait has
// given up, so the waiter and the callback share the context and the last one out deletes it; a
// registration the waiter abandons goes to the context and is freed when the callback runs.
struct CompletionContext {
  void Release() {
    if (refs.fetch_sub(1) == 1)
      delete this;
  }

  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;                            // mutex
  DWORD status = 0;                             // mutex
  PDNS_SERVICE_INSTANCE given = nullptr;        // mutex
  std::unique_ptr<ServiceRegistration> orphan;  // mutex
  std::atomic<int> refs{2};                     // the waiter and the callback
};

// A running browse. The advertiser lets go by clearing `owner` under `mutex`, which a callback
// holds across its check and its report, then cancels. The context stays until both the cancel
// call has returned and the cancelled callback has run.
struct BrowseContext {
  BrowseContext(const DnsSdApi& table, SelfHealState* state) : api(table), owner(state) {}
  void Release() {
    if (refs.fetch_sub(1) == 1)
      delete this;
  }

  const DnsSdApi api;
  std::mutex mutex;
  SelfHealState* owner;  // mutex; null once the advertiser has let go
  DNS_SERVICE_CANCEL cancel{};
  std::atomic<int> refs{2};  // the cancelling side and the cancelled callback
};

}  // namespace dnssdwin

namespace {

// DNS_REQUEST_PENDING, which older SDK headers lack.
constexpr DWORD kRequestPending = 9506;

using dnssdwin::BrowseContext;
using dnssdwin::CompletionContext;
using dnssdwin::ServiceRegistration;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty())
    return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  }
  return out;
}

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0')
    return {};
  const int length = static_cast<int>(std::wcslen(text));
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::optional<std::string> ComputerDnsName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size))
    return std::nullopt;
  return Utf8(name);
}

void WINAPI OnRequestComplete(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
  auto* completion = static_cast<CompletionContext*>(context);
  std::unique_ptr<ServiceRegistration> orphan;
  {
    std::lock_guard<std::mutex> lock(completion->mutex);
    if (completion->orphan) {
      completion->orphan->Adopt(instance);
      orphan = std::move(completion->orphan);
    } else {
      completion->status = status;
      completion->given = instance;
    }
    completion->done = true;
  }
  completion->cv.notify_all();
  orphan.reset();
  completion->Release();
}

struct Completion {
  bool timedOut = false;  // the first wait ran out
  bool done = false;      // the callback has run (perhaps after a cancel)
  DWORD status = 0;
  PDNS_SERVICE_INSTANCE given = nullptr;
};

// Waits for the completion. When the wait runs out, `cancel` (if any) runs without the context's
// lock; if the callback still has not come, `registration` goes to the context.
Completion Await(CompletionContext* context, std::chrono::milliseconds wait,
                 std::unique_ptr<ServiceRegistration>& registration,
                 const std::function<void()>& cancel) {
  Completion out;
  std::unique_lock<std::mutex> lock(context->mutex);
  if (!context->cv.wait_for(lock, wait, [&] { return context->done; })) {
    out.timedOut = true;
    if (cancel) {
      lock.unlock();
      cancel();
      lock.lock();
    }
    if (!context->done) {
      context->orphan = std::move(registration);
      lock.unlock();
      context->Release();
      return out;
    }
  }
  out.done = true;
  out.status = context->status;
  out.given = context->given;
  lock.unlock();
  context->Release();
  return out;
}

std::vector<std::string> PtrTargets(const DNS_RECORD* records) {
  std::vector<std::string> names;
  for (const DNS_RECORD* r = records; r != nullptr; r = r->pNext) {
    if (r->wType == DNS_TYPE_PTR && r->Data.PTR.pNameHost != nullptr)
      names.push_back(Utf8(r->Data.PTR.pNameHost));
  }
  return names;
}

void WINAPI OnBrowseResult(DWORD status, PVOID context, PDNS_RECORD records) {
  auto* browse = static_cast<BrowseContext*>(context);
  if (status == ERROR_CANCELLED) {
    if (records != nullptr)
      browse->api.free(records, DnsFreeRecordList);
    browse->Release();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(browse->mutex);
    if (browse->owner != nullptr)
      browse->owner->NoteNames(PtrTargets(records));
  }
  if (records != nullptr)
    browse->api.free(records, DnsFreeRecordList);
}

}  // namespace

DnsSdServiceAdvertiser::DnsSdServiceAdvertiser(std::optional<DnsSdApi> api,
                                               std::string missingFunction, const Options& options,
                                               const DnsSdWaits& waits)
    : SelfHealingAdvertiser(options),
      api_(api),
      missingFunction_(std::move(missingFunction)),
      waits_(waits) {}

DnsSdServiceAdvertiser::~DnsSdServiceAdvertiser() {
  Stop();
}

SelfHealingAdvertiser::Registration DnsSdServiceAdvertiser::RegisterLocked(
    uint16_t port, const AdvertisementRecord& record) {
  Registration result;
  if (!api_) {
    Log(channels::kMdns, kLogError, "DNS-SD unavailable: dnsapi.dll has no %{public}s",
        missingFunction_.c_str());
    return result;
  }
  result.askedName = dnssd::FullInstanceName(dnssd::InstanceLabel(record.name));
  const std::wstring instanceName = Wide(result.askedName);
  const std::wstring hostName = Wide(dnssd::MdnsHostName(ComputerDnsName()));
  std::vector<std::wstring> keys, values;
  for (const auto& [key, value] : dnssd::TxtEntries(record)) {
    keys.push_back(Wide(key));
    values.push_back(Wide(value));
  }
  std::vector<PCWSTR> keyPointers, valuePointers;
  for (size_t i = 0; i < keys.size(); ++i) {
    keyPointers.push_back(keys[i].c_str());
    valuePointers.push_back(values[i].c_str());
  }
  PDNS_SERVICE_INSTANCE instance = api_->constructInstance(
      instanceName.c_str(), hostName.c_str(), nullptr, nullptr, port, 0, 0,
      static_cast<DWORD>(keys.size()), keyPointers.data(), valuePointers.data());
  if (instance == nullptr) {
    Log(channels::kMdns, kLogError, "DnsServiceConstructInstance failed: err=%lu", GetLastError());
    return result;
  }
  auto registration = std::make_unique<ServiceRegistration>(*api_);
  registration->instance = instance;
  auto* completion = new CompletionContext;
  DNS_SERVICE_REGISTER_REQUEST& request = registration->request;
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.pServiceInstance = instance;
  request.pRegisterCompletionCallback = OnRequestComplete;
  request.pQueryContext = completion;
  request.unicastEnabled = FALSE;
  const DWORD status = api_->registerService(&request, &registration->cancel);
  if (status != kRequestPending) {
    Log(channels::kMdns, kLogError, "DnsServiceRegister returned %lu — registration refused",
        status);
    delete completion;  // no callback follows a refused request
    return result;
  }
  ServiceRegistration* pending = registration.get();
  const Completion done = Await(completion, waits_.registration, registration,
                                [this, pending] { api_->registerCancel(&pending->cancel); });
  if (!done.done || (done.timedOut && done.status != 0)) {
    Log(channels::kMdns, kLogError, "DnsServiceRegister callback timed out after 5s");
    if (registration)
      registration->Adopt(done.given);
    return result;
  }
  registration->Adopt(done.given);
  if (done.status != 0) {
    Log(channels::kMdns, kLogError, "DnsServiceRegister callback status=%lu", done.status);
    return result;
  }
  result.registeredName = Utf8(registration->Registered()->pszInstanceName);
  result.ok = true;
  registration_ = std::move(registration);
  return result;
}

void DnsSdServiceAdvertiser::WithdrawLocked() {
  if (!registration_)
    return;
  std::unique_ptr<ServiceRegistration> registration = std::move(registration_);
  auto* completion = new CompletionContext;
  registration->request.pQueryContext = completion;
  const DWORD status = api_->deregisterService(&registration->request, nullptr);
  if (status != kRequestPending) {
    Log(channels::kMdns, kLogInfo, "DnsServiceDeRegister returned %lu — continuing teardown",
        status);
    delete completion;
    return;
  }
  const Completion done = Await(completion, waits_.deregistration, registration, nullptr);
  if (done.done && registration)
    registration->Adopt(done.given);
  // Without a completion in time the registration now belongs to the context.
}

bool DnsSdServiceAdvertiser::BrowseLocked() {
  EndBrowseLocked();
  if (!api_)
    return false;
  auto* browse = new BrowseContext(*api_, &selfHeal());
  DNS_SERVICE_BROWSE_REQUEST request{};
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.QueryName = L"_sorvane._tcp.local";
  request.pBrowseCallback = OnBrowseResult;
  request.pQueryContext = browse;
  const DNS_STATUS status = api_->browse(&request, &browse->cancel);
  if (status != kRequestPending) {
    Log(channels::kMdns, kLogError, "[bj] self-heal: DnsServiceBrowse failed s=%lu — self-heal off",
        static_cast<unsigned long>(status));
    delete browse;
    return false;
  }
  browse_ = browse;
  return true;
}

void DnsSdServiceAdvertiser::EndBrowseLocked() {
  if (browse_ == nullptr)
    return;
  BrowseContext* browse = browse_;
  browse_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(browse->mutex);
    browse->owner = nullptr;
  }
  // Only a successful cancel promises the cancelled callback; otherwise the context stays.
  if (api_->browseCancel(&browse->cancel) == ERROR_SUCCESS)
    browse->Release();
}

}  // namespace Sorvane
