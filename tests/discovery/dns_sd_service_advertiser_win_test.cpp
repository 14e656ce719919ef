#include <gtest/gtest.h>

#include <cwchar>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "discovery/dns_sd_requests_win.h"
#include "discovery/dns_sd_service_advertiser_win.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

constexpr DWORD kPending = 9506;
constexpr int64_t kMs = 1'000'000;

using test::TestLog;

// A stand-in for DNSAPI's service functions that records what it is given, owns the instances it
// hands out (so double frees and use after free show up), and completes requests only when told.
struct FakeDnsApi {
  std::mutex lock;
  std::vector<std::string> calls;
  std::wstring instanceName, hostName;
  WORD port = 0;
  std::vector<std::pair<std::wstring, std::wstring>> txt;
  std::set<PDNS_SERVICE_INSTANCE> live;
  int badFrees = 0;
  int deregisteredDeadInstance = 0;
  int listsFreed = 0;
  bool completeRegistrations = true;
  bool browseCancelFails = false;
  bool freeThrows = false;
  std::wstring deliveredName;  // non-empty: the completion hands back an instance of this name
  PDNS_SERVICE_REGISTER_REQUEST lastRegister = nullptr;
  PDNS_SERVICE_CANCEL lastRegisterCancel = nullptr;
  PDNS_SERVICE_CANCEL lastBrowseCancel = nullptr;
  PDNS_SERVICE_BROWSE_CALLBACK browseCallback = nullptr;
  void* browseContext = nullptr;
  std::vector<std::thread> threads;

  void JoinAll() {
    for (auto& t : threads)
      t.join();
    threads.clear();
  }
};
FakeDnsApi* fake = nullptr;

PWSTR Copy(PCWSTR text) {
  const size_t n = text ? std::wcslen(text) : 0;
  auto* out = new wchar_t[n + 1];
  std::wmemcpy(out, text ? text : L"", n + 1);
  return out;
}

PDNS_SERVICE_INSTANCE NewInstance(PCWSTR name) {
  auto* instance = new DNS_SERVICE_INSTANCE{};
  instance->pszInstanceName = Copy(name);
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->live.insert(instance);
  return instance;
}

PDNS_SERVICE_INSTANCE WINAPI FakeConstruct(PCWSTR name, PCWSTR host, PIP4_ADDRESS, PIP6_ADDRESS,
                                           WORD port, WORD, WORD, DWORD count, PCWSTR* keys,
                                           PCWSTR* values) {
  {
    std::lock_guard<std::mutex> lock(fake->lock);
    fake->calls.push_back("construct");
    fake->instanceName = name;
    fake->hostName = host;
    fake->port = port;
    fake->txt.clear();
    for (DWORD i = 0; i < count; ++i)
      fake->txt.emplace_back(keys[i], values[i]);
  }
  return NewInstance(name);
}

VOID WINAPI FakeFreeInstance(PDNS_SERVICE_INSTANCE instance) {
  std::lock_guard<std::mutex> lock(fake->lock);
  if (fake->live.erase(instance) == 0) {
    ++fake->badFrees;
    return;
  }
  delete[] instance->pszInstanceName;
  delete instance;
}

void CompleteLater(PDNS_SERVICE_REGISTER_COMPLETE callback, void* context, DWORD status,
                   PDNS_SERVICE_INSTANCE instance) {
  fake->threads.emplace_back([=] { callback(status, context, instance); });
}

DWORD WINAPI FakeRegister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->calls.push_back("register");
  fake->lastRegister = request;
  fake->lastRegisterCancel = cancel;
  if (fake->completeRegistrations) {
    PDNS_SERVICE_INSTANCE given = request->pServiceInstance;
    if (!fake->deliveredName.empty()) {
      fake->lock.unlock();
      given = NewInstance(fake->deliveredName.c_str());
      fake->lock.lock();
    }
    CompleteLater(request->pRegisterCompletionCallback, request->pQueryContext, 0, given);
  }
  return kPending;
}

DWORD WINAPI FakeRegisterCancel(PDNS_SERVICE_CANCEL cancel) {
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->calls.push_back(cancel == fake->lastRegisterCancel ? "register cancel" : "cancel?");
  return ERROR_SUCCESS;
}

DWORD WINAPI FakeDeregister(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL) {
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->calls.push_back(request == fake->lastRegister ? "deregister" : "deregister other");
  if (fake->live.count(request->pServiceInstance) == 0)
    ++fake->deregisteredDeadInstance;
  CompleteLater(request->pRegisterCompletionCallback, request->pQueryContext, 0,
                request->pServiceInstance);
  return kPending;
}

DNS_STATUS WINAPI FakeBrowse(PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->calls.push_back("browse");
  fake->browseCallback = request->pBrowseCallback;
  fake->browseContext = request->pQueryContext;
  fake->lastBrowseCancel = cancel;
  return kPending;
}

DNS_STATUS WINAPI FakeBrowseCancel(PDNS_SERVICE_CANCEL) {
  std::lock_guard<std::mutex> lock(fake->lock);
  fake->calls.push_back("browse cancel");
  return fake->browseCancelFails ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

VOID WINAPI FakeDnsFree(PVOID data, DNS_FREE_TYPE) {
  auto* record = static_cast<PDNS_RECORD>(data);
  while (record != nullptr) {
    PDNS_RECORD next = record->pNext;
    delete[] record->Data.PTR.pNameHost;
    delete record;
    record = next;
  }
  std::lock_guard<std::mutex> lock(fake->lock);
  ++fake->listsFreed;
  if (fake->freeThrows)
    throw std::runtime_error("DnsFree broke");
}

PDNS_RECORD PtrList(const std::vector<std::wstring>& names) {
  PDNS_RECORD head = nullptr;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    auto* record = new DNS_RECORD{};
    record->wType = DNS_TYPE_PTR;
    record->Data.PTR.pNameHost = Copy(it->c_str());
    record->pNext = head;
    head = record;
  }
  return head;
}

DnsSdApi FakeTable() {
  DnsSdApi api;
  api.constructInstance = FakeConstruct;
  api.registerService = FakeRegister;
  api.deregisterService = FakeDeregister;
  api.registerCancel = FakeRegisterCancel;
  api.browse = FakeBrowse;
  api.browseCancel = FakeBrowseCancel;
  api.freeInstance = FakeFreeInstance;
  api.free = FakeDnsFree;
  return api;
}

class DnsSdAdvertiserTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &api; }
  void TearDown() override {
    advertiser.reset();
    api.JoinAll();
    EXPECT_EQ(api.badFrees, 0);
    EXPECT_EQ(api.deregisteredDeadInstance, 0);
    fake = nullptr;
  }
  void Make(DnsSdWaits waits = DnsSdWaits()) {
    advertiser = std::make_unique<DnsSdServiceAdvertiser>(
        FakeTable(), "", SelfHealingAdvertiser::Options{&clock, false, false}, waits);
  }
  // One pass of the self-heal thread; a browse it began is answered with `answers`, one callback
  // per name, as DNSAPI does.
  void Step(const std::vector<std::wstring>& answers) {
    clock.Advance(200 * kMs);
    const void* before = api.browseContext;
    advertiser->SelfHealStep();
    api.JoinAll();
    if (api.browseContext == before)
      return;
    for (const std::wstring& answer : answers)
      Deliver(0, {answer});
  }
  size_t Registrations() {
    const auto calls = Calls();
    return std::count(calls.begin(), calls.end(), "register");
  }
  // Delivers one browse result to whatever context the browse was given.
  void Deliver(DWORD status, const std::vector<std::wstring>& names, void* context = nullptr) {
    fake->browseCallback(status, context ? context : api.browseContext, PtrList(names));
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(api.lock);
    return api.calls;
  }

  FakeDnsApi api;
  test::ManualClock clock;
  std::unique_ptr<DnsSdServiceAdvertiser> advertiser;
};

TEST_F(DnsSdAdvertiserTest, TheRecordIsBuiltAsAdvertised) {
  Make();
  const std::string name(60, 'n');
  ASSERT_TRUE(advertiser->Start(47100, {"id-1", name, true}));
  EXPECT_TRUE(advertiser->IsRegistered());
  EXPECT_EQ(api.instanceName, std::wstring(40, L'n') + L"._sorvane._tcp.local");
  ASSERT_GT(api.hostName.size(), 6u);
  EXPECT_EQ(api.hostName.substr(api.hostName.size() - 6), L".local");
  EXPECT_EQ(api.port, 47100);
  const std::vector<std::pair<std::wstring, std::wstring>> txt = {
      {L"ver", L"4"}, {L"id", L"id-1"}, {L"name", std::wstring(60, L'n')}, {L"transmit", L"1"}};
  EXPECT_EQ(api.txt, txt);
  advertiser->Stop();
  api.JoinAll();
  EXPECT_TRUE(api.live.empty()) << "every instance freed once deregistered";
}

TEST_F(DnsSdAdvertiserTest, MultiByteNamesAreConvertedWhole) {
  Make();
  // 38 ASCII bytes, then a dash straddling byte 40: cut before the dash, not inside it.
  ASSERT_TRUE(advertiser->Start(47100, {"i", std::string(38, 'a') + "\xE2\x80\x94" + "b", false}));
  EXPECT_EQ(api.instanceName, std::wstring(38, L'a') + L"._sorvane._tcp.local");
  EXPECT_EQ(api.txt[2].second, std::wstring(38, L'a') + L"\x2014" + L"b");
}

TEST_F(DnsSdAdvertiserTest, ATimedOutRegistrationIsCancelledAndFreedWhenItCompletesLate) {
  DnsSdWaits waits;
  waits.registration = std::chrono::milliseconds(20);
  Make(waits);
  api.completeRegistrations = false;
  EXPECT_FALSE(advertiser->Start(47100, {"i", "Studio", true}));
  EXPECT_FALSE(advertiser->IsRegistered());
  const auto calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "register cancel"), 1);
  EXPECT_NE(TestLog().find("DnsServiceRegister callback timed out after 5s"), std::string::npos);
  EXPECT_EQ(api.live.size(), 1u) << "DNSAPI may still use the instance until it completes";
  advertiser.reset();  // the late completion must not need the advertiser
  PDNS_SERVICE_REGISTER_REQUEST request = api.lastRegister;
  request->pRegisterCompletionCallback(0, request->pQueryContext, request->pServiceInstance);
  EXPECT_TRUE(api.live.empty());
}

TEST_F(DnsSdAdvertiserTest, TheDeliveredInstanceIsAdoptedAndBothAreFreed) {
  Make();
  api.deliveredName = L"Studio (2)._sorvane._tcp.local";
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  EXPECT_EQ(advertiser->selfHealState().ourName(), "Studio (2)._sorvane._tcp.local");
  EXPECT_NE(TestLog().find("name taken — advertising as Studio (2)"), std::string::npos);
  advertiser->Stop();
  api.JoinAll();
  EXPECT_TRUE(api.live.empty());
}

TEST_F(DnsSdAdvertiserTest, BrowseRoundsWithoutUsRepublishAfterDeregistering) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  while (Registrations() < 2 && clock.NowNs() < 60'000 * kMs)
    Step({L"Other._sorvane._tcp.local", L"Third._sorvane._tcp.local"});
  const auto calls = Calls();
  const auto deregister = std::find(calls.begin(), calls.end(), "deregister");
  ASSERT_NE(deregister, calls.end());
  EXPECT_NE(std::find(deregister, calls.end(), "register"), calls.end())
      << "the old entry goes before the new one is registered";
  EXPECT_TRUE(advertiser->IsRegistered());
  EXPECT_TRUE(advertiser->selfHealState().present());
  EXPECT_EQ(api.live.size(), 1u) << "exactly one registration left";
}

// DNSAPI's answers name our own entry in any form its documentation allows; none of them may make
// it count as someone else's, alone or among others.
TEST_F(DnsSdAdvertiserTest, OurEntryHoweverSpelledIsNeverRegisteredAgain) {
  const std::vector<std::wstring> spellings = {
      L"Edit\\.Bay._sorvane._tcp.local", L"Edit\\.Bay._sorvane._tcp.local.",
      L"EDIT\\.BAY._SORVANE._TCP.LOCAL", L"Edit\\046Bay._sorvane._tcp.local."};
  for (const std::wstring& spelling : spellings) {
    for (const bool alone : {true, false}) {
      SCOPED_TRACE(std::string(alone ? "alone: " : "among others: ") +
                   dnssdwin::Utf8(spelling.c_str()));
      Make();
      api.calls.clear();
      ASSERT_TRUE(advertiser->Start(47100, {"i", "Edit.Bay", false}));
      EXPECT_EQ(api.instanceName, L"Edit\\.Bay._sorvane._tcp.local");
      std::vector<std::wstring> answers = {spelling};
      if (!alone)
        answers.push_back(L"Other._sorvane._tcp.local");
      for (int step = 0; step < 30 * 60 * 5; ++step)
        Step(answers);
      EXPECT_EQ(Registrations(), 1u);
      const auto calls = Calls();
      EXPECT_LE(std::count(calls.begin(), calls.end(), "browse"), 10) << "rounds back off";
      advertiser.reset();
      api.JoinAll();
    }
  }
}

// A lone computer: its own entry is all a browse finds. After a network change lost it, the
// browse finds nothing, which must count.
TEST_F(DnsSdAdvertiserTest, ALonePcRegistersAgainWhenANetworkChangeLostTheEntry) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", false}));
  for (int step = 0; step < 60 * 5; ++step)
    Step({L"Studio._sorvane._tcp.local."});
  ASSERT_EQ(Registrations(), 1u);
  advertiser->OnNetworkChange();
  const int64_t changed = clock.NowNs();
  while (Registrations() < 2 && clock.NowNs() - changed < 60'000 * kMs)
    Step({});
  EXPECT_EQ(Registrations(), 2u);
  EXPECT_LE(clock.NowNs() - changed, 15'000 * kMs);
  for (int step = 0; step < 600 * 5; ++step)
    Step({L"Studio._sorvane._tcp.local."});
  EXPECT_EQ(Registrations(), 2u) << "seen again: nothing more";
  EXPECT_EQ(api.live.size(), 1u);
}

// DNSAPI may never call back about a request we gave up on (the documentation promises nothing
// after DnsServiceRegisterCancel, or after a browse cancel that failed): what we handed it is
// freed once the grace period has passed, and a callback after that finds nothing to touch.
TEST_F(DnsSdAdvertiserTest, AbandonedRequestsAreFreedOnceAfterAGracePeriod) {
  const size_t inFlightBefore = dnssdwin::RequestsInFlight();
  DnsSdWaits waits;
  waits.registration = std::chrono::milliseconds(20);
  waits.abandonedGrace = std::chrono::milliseconds(60'000);
  Make(waits);
  api.completeRegistrations = false;
  EXPECT_FALSE(advertiser->Start(47100, {"i", "Studio", true}));
  PDNS_SERVICE_REGISTER_REQUEST abandoned = api.lastRegister;
  void* ticket = abandoned->pQueryContext;
  EXPECT_EQ(api.live.size(), 1u) << "DNSAPI may still use it within the grace period";
  api.completeRegistrations = true;
  api.browseCancelFails = true;
  while (!advertiser->IsRegistered() && clock.NowNs() < 10'000 * kMs)
    Step({});
  ASSERT_TRUE(advertiser->IsRegistered()) << "retried after the failed Start";
  while (api.browseContext == nullptr && clock.NowNs() < 20'000 * kMs)
    Step({L"Studio._sorvane._tcp.local"});
  advertiser->Stop();  // cancels the browse, which fails
  EXPECT_EQ(api.live.size(), 1u);
  clock.Advance(60'000 * kMs);
  advertiser->Stop();  // any later call on the advertiser reaps what is due
  EXPECT_TRUE(api.live.empty());
  EXPECT_EQ(dnssdwin::RequestsInFlight(), inFlightBefore);
  // Callbacks after all: nothing is freed twice, nothing freed is used.
  dnssdwin::OnRequestComplete(0, ticket, nullptr);
  Deliver(ERROR_CANCELLED, {});
  EXPECT_EQ(api.badFrees, 0);
}

// Where the TXT record cannot be changed in place, a new "transmit" value registers the entry
// again, with the value in its TXT record.
TEST_F(DnsSdAdvertiserTest, ANewTransmitValueRegistersTheEntryAgain) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", false}));
  EXPECT_EQ(api.txt[3], std::make_pair(std::wstring(L"transmit"), std::wstring(L"0")));
  advertiser->SetTransmit(true);
  Step({L"Studio._sorvane._tcp.local"});
  EXPECT_EQ(Registrations(), 2u);
  EXPECT_EQ(api.txt[3], std::make_pair(std::wstring(L"transmit"), std::wstring(L"1")));
  EXPECT_EQ(api.live.size(), 1u);
}

TEST_F(DnsSdAdvertiserTest, BrowseCallbacksAfterStopAreHarmless) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  Step({});
  void* context = api.browseContext;
  ASSERT_NE(context, nullptr);
  const int listsBefore = api.listsFreed;
  advertiser->Stop();
  const auto calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "browse cancel"), 1);
  advertiser.reset();
  // A result that was already on its way, then the cancellation: neither reaches the advertiser,
  // both lists are freed, and the context goes with the cancellation.
  Deliver(0, {L"Other._sorvane._tcp.local"}, context);
  Deliver(ERROR_CANCELLED, {}, context);
  EXPECT_EQ(api.listsFreed, listsBefore + 1);
}

// DNSAPI calls back on threads of its own: an exception there is stopped with one FAULT line.
TEST_F(DnsSdAdvertiserTest, AnExceptionInABrowseCallbackStopsThere) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  Step({});
  api.freeThrows = true;
  Deliver(0, {L"Other._sorvane._tcp.local"});
  Deliver(0, {L"Other._sorvane._tcp.local"});
  api.freeThrows = false;
  EXPECT_EQ(test::Count(TestLog(), "FAULT] DNS-SD browse callback: exception stopped"), 1u);
  EXPECT_EQ(api.listsFreed, 2);
}

TEST_F(DnsSdAdvertiserTest, StopTwiceIsHarmless) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  Step({});
  advertiser->Stop();
  advertiser->Stop();
  const auto calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "deregister"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "browse cancel"), 1);
  Deliver(ERROR_CANCELLED, {});
}

TEST(DnsSdAdvertiser, MissingFunctionsFailStartWithOneLine) {
  const std::string before = TestLog();
  DnsSdServiceAdvertiser advertiser(std::nullopt, "DnsServiceRegister");
  EXPECT_FALSE(advertiser.Start(47100, {"i", "Studio", true}));
  const std::string added = TestLog().substr(before.size());
  EXPECT_NE(added.find("dnsapi.dll has no DnsServiceRegister"), std::string::npos) << added;
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
}

TEST(DnsSdAdvertiser, TheRealDnsapiIsLookedUpAtRunTime) {
  std::string missing;
  if (LoadDnsSdApi(&missing)) {
    GTEST_SKIP() << "this Windows has the DNS-SD service functions";
  }
  // Wine's dnsapi.dll lacks them: the factory makes no advertiser, with one line naming the gap.
  EXPECT_FALSE(missing.empty());
  EXPECT_EQ(CreateServiceAdvertiser(), nullptr);
  EXPECT_EQ(test::Count(TestLog(), "dnsapi.dll has no " + missing), 1u);
}

}  // namespace
}  // namespace Sorvane
