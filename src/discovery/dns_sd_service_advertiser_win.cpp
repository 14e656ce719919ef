#include "discovery/dns_sd_service_advertiser_win.h"

#include <functional>
#include <vector>

#include "diag/log_channels.h"
#include "discovery/dns_sd_requests_win.h"
#include "discovery/service_names.h"

namespace Sorvane {
namespace {

// DNS_REQUEST_PENDING, which older SDK headers lack.
constexpr DWORD kRequestPending = 9506;

using dnssdwin::BrowseContext;
using dnssdwin::CompletionContext;
using dnssdwin::ServiceRegistration;
using dnssdwin::Tickets;

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

std::optional<std::string> ComputerDnsName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size))
    return std::nullopt;
  return dnssdwin::Utf8(name);
}

struct Completion {
  bool timedOut = false;  // the first wait ran out
  bool done = false;      // the callback has run (perhaps after a cancel)
  DWORD status = 0;
  PDNS_SERVICE_INSTANCE given = nullptr;
};

// Waits for the completion. When the wait runs out, `cancel` (if any) runs without the context's
// lock; if the callback still has not come, `registration` goes to the context, whose ticket the
// caller then abandons. Otherwise the ticket is withdrawn here.
Completion Await(void* ticket, std::chrono::milliseconds wait,
                 std::unique_ptr<ServiceRegistration>& registration,
                 const std::function<void()>& cancel) {
  const std::shared_ptr<CompletionContext> context = Tickets<CompletionContext>::Get().Find(ticket);
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
      return out;
    }
  }
  out.done = true;
  out.status = context->status;
  out.given = context->given;
  lock.unlock();
  Tickets<CompletionContext>::Get().Withdraw(ticket);
  return out;
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
  // What is younger than the grace period stays with its ticket: DNSAPI may still use it.
  ReapLocked();
}

SelfHealingAdvertiser::Registration DnsSdServiceAdvertiser::RegisterLocked(
    uint16_t port, const AdvertisementRecord& record) {
  ReapLocked();
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
    LogFailure("DnsServiceConstructInstance failed: err=%lu", GetLastError());
    return result;
  }
  auto registration = std::make_unique<ServiceRegistration>(*api_);
  registration->instance = instance;
  void* ticket = Tickets<CompletionContext>::Get().Issue(std::make_shared<CompletionContext>());
  DNS_SERVICE_REGISTER_REQUEST& request = registration->request;
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.pServiceInstance = instance;
  request.pRegisterCompletionCallback = dnssdwin::OnRequestComplete;
  request.pQueryContext = ticket;
  request.unicastEnabled = FALSE;
  const DWORD status = api_->registerService(&request, &registration->cancel);
  if (status != kRequestPending) {
    LogFailure("DnsServiceRegister returned %lu — registration refused", status);
    Tickets<CompletionContext>::Get().Withdraw(ticket);  // no callback follows a refused request
    return result;
  }
  ServiceRegistration* pending = registration.get();
  const Completion done = Await(ticket, waits_.registration, registration,
                                [this, pending] { api_->registerCancel(&pending->cancel); });
  if (!done.done)
    Abandon(ticket, false);
  if (!done.done || (done.timedOut && done.status != 0)) {
    LogFailure("DnsServiceRegister callback timed out after 5s");
    if (registration)
      registration->Adopt(done.given);
    return result;
  }
  registration->Adopt(done.given);
  if (done.status != 0) {
    LogFailure("DnsServiceRegister callback status=%lu", done.status);
    return result;
  }
  result.registeredName = dnssdwin::Utf8(registration->Registered()->pszInstanceName);
  result.ok = true;
  registration_ = std::move(registration);
  return result;
}

void DnsSdServiceAdvertiser::WithdrawLocked() {
  ReapLocked();
  if (!registration_)
    return;
  std::unique_ptr<ServiceRegistration> registration = std::move(registration_);
  void* ticket = Tickets<CompletionContext>::Get().Issue(std::make_shared<CompletionContext>());
  registration->request.pQueryContext = ticket;
  const DWORD status = api_->deregisterService(&registration->request, nullptr);
  if (status != kRequestPending) {
    Log(channels::kMdns, kLogInfo, "DnsServiceDeRegister returned %lu — continuing teardown",
        status);
    Tickets<CompletionContext>::Get().Withdraw(ticket);
    return;
  }
  const Completion done = Await(ticket, waits_.deregistration, registration, nullptr);
  if (done.done && registration)
    registration->Adopt(done.given);
  if (!done.done)
    Abandon(ticket, false);  // the registration now belongs to the context
}

bool DnsSdServiceAdvertiser::BrowseLocked() {
  EndBrowseLocked();
  ReapLocked();
  if (!api_)
    return false;
  auto browse = std::make_shared<BrowseContext>(*api_, &selfHeal());
  void* ticket = Tickets<BrowseContext>::Get().Issue(browse);
  DNS_SERVICE_BROWSE_REQUEST request{};
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.QueryName = L"_sorvane._tcp.local";
  request.pBrowseCallback = dnssdwin::OnBrowseResult;
  request.pQueryContext = ticket;
  const DNS_STATUS status = api_->browse(&request, &browse->cancel);
  if (status != kRequestPending) {
    LogFailure("[bj] self-heal: DnsServiceBrowse failed s=%lu — retrying later",
               static_cast<unsigned long>(status));
    Tickets<BrowseContext>::Get().Withdraw(ticket);
    return false;
  }
  browse_ = std::move(browse);
  browseTicket_ = ticket;
  return true;
}

void DnsSdServiceAdvertiser::EndBrowseLocked() {
  if (!browse_)
    return;
  {
    std::lock_guard<std::mutex> lock(browse_->mutex);
    browse_->owner = nullptr;
  }
  // A successful cancel promises one more callback, which withdraws the ticket; a failed one
  // promises nothing, so the context goes after the grace period either way.
  api_->browseCancel(&browse_->cancel);
  Abandon(browseTicket_, true);
  browse_.reset();
  browseTicket_ = nullptr;
}

void DnsSdServiceAdvertiser::Abandon(void* ticket, bool browse) {
  const int64_t grace =
      std::chrono::duration_cast<std::chrono::nanoseconds>(waits_.abandonedGrace).count();
  abandoned_.push_back({ticket, browse, clock().NowNs() + grace});
}

void DnsSdServiceAdvertiser::ReapLocked() {
  const int64_t now = clock().NowNs();
  std::erase_if(abandoned_, [now](const Abandoned& a) {
    const bool live = a.browse ? Tickets<BrowseContext>::Get().Find(a.ticket) != nullptr
                               : Tickets<CompletionContext>::Get().Find(a.ticket) != nullptr;
    if (live && now < a.reapAtNs)
      return false;
    if (a.browse)
      Tickets<BrowseContext>::Get().Withdraw(a.ticket);
    else
      Tickets<CompletionContext>::Get().Withdraw(a.ticket);
    return true;
  });
}

}  // namespace Sorvane
