#include "discovery/dns_sd_requests_win.h"

#include <cwchar>
#include <string>
#include <vector>

#include "diag/host_entry_guard.h"
#include "diag/log_channels.h"

namespace Sorvane::dnssdwin {
namespace {

std::vector<std::string> PtrTargets(const DNS_RECORD* records) {
  std::vector<std::string> names;
  for (const DNS_RECORD* r = records; r != nullptr; r = r->pNext) {
    if (r->wType == DNS_TYPE_PTR && r->Data.PTR.pNameHost != nullptr)
      names.push_back(Utf8(r->Data.PTR.pNameHost));
  }
  return names;
}

void Complete(DWORD status, PVOID ticket, PDNS_SERVICE_INSTANCE instance) {
  const std::shared_ptr<CompletionContext> completion =
      Tickets<CompletionContext>::Get().Find(ticket);
  if (!completion)
    return;  // given up long ago: nothing of ours is left, and `instance` cannot be told apart
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
  if (orphan)
    Tickets<CompletionContext>::Get().Withdraw(ticket);  // nobody waits for it any more
}

void Report(DWORD status, PVOID ticket, PDNS_RECORD records) {
  const std::shared_ptr<BrowseContext> browse = Tickets<BrowseContext>::Get().Find(ticket);
  if (!browse)
    return;  // given up long ago: without its table the list cannot be freed either
  if (status == ERROR_CANCELLED) {
    Tickets<BrowseContext>::Get().Withdraw(ticket);
  } else {
    std::lock_guard<std::mutex> lock(browse->mutex);
    if (browse->owner != nullptr && status == ERROR_SUCCESS)
      browse->owner->NoteNames(PtrTargets(records));
    else if (browse->owner != nullptr)
      browse->owner->AbandonRound();  // a failed browse says nothing about us
  }
  if (records != nullptr)
    browse->api.free(records, DnsFreeRecordList);
}

}  // namespace

ServiceRegistration::~ServiceRegistration() {
  if (delivered != nullptr && delivered != instance)
    api.freeInstance(delivered);
  if (instance != nullptr)
    api.freeInstance(instance);
}

void ServiceRegistration::Adopt(PDNS_SERVICE_INSTANCE given) {
  if (given == nullptr || given == instance || given == delivered)
    return;
  if (delivered != nullptr)
    api.freeInstance(delivered);
  delivered = given;
}

void WINAPI OnRequestComplete(DWORD status, PVOID ticket, PDNS_SERVICE_INSTANCE instance) {
  static HostEntryGuard guard(channels::kMdns, "DNS-SD completion callback");
  guard.Run([&] { Complete(status, ticket, instance); });
}

void WINAPI OnBrowseResult(DWORD status, PVOID ticket, PDNS_RECORD records) {
  static HostEntryGuard guard(channels::kMdns, "DNS-SD browse callback");
  guard.Run([&] { Report(status, ticket, records); });
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

size_t RequestsInFlight() {
  return Tickets<CompletionContext>::Get().Count() + Tickets<BrowseContext>::Get().Count();
}

}  // namespace Sorvane::dnssdwin
