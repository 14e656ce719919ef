#include <gtest/gtest.h>

#include <cwchar>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "diag/log.h"
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
  return ERROR_SUCCESS;
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
        FakeTable(), "", SelfHealingAdvertiser::Options{&clock, false}, waits);
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
  for (int round = 0; round < 2; ++round) {
    Deliver(0, {L"Other._sorvane._tcp.local"});
    Deliver(0, {L"Third._sorvane._tcp.local"});
    clock.Advance(SelfHealState::kRoundLengthNs);
    advertiser->SelfHealStep();  // cancels this round's browse and starts the next
  }
  EXPECT_FALSE(advertiser->selfHealState().present());
  clock.Advance(1500 * kMs);
  advertiser->SelfHealStep();
  api.JoinAll();
  const auto calls = Calls();
  const auto deregister = std::find(calls.begin(), calls.end(), "deregister");
  ASSERT_NE(deregister, calls.end());
  EXPECT_NE(std::find(deregister, calls.end(), "register"), calls.end())
      << "the old entry goes before the new one is registered";
  EXPECT_TRUE(advertiser->IsRegistered());
  EXPECT_TRUE(advertiser->selfHealState().present());
  EXPECT_EQ(api.live.size(), 1u) << "exactly one registration left";
}

TEST_F(DnsSdAdvertiserTest, BrowseCallbacksAfterStopAreHarmless) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
  void* context = api.browseContext;
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

TEST_F(DnsSdAdvertiserTest, StopTwiceIsHarmless) {
  Make();
  ASSERT_TRUE(advertiser->Start(47100, {"i", "Studio", true}));
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
  // Wine's dnsapi.dll lacks them: the factory's advertiser fails cleanly and names the gap.
  EXPECT_FALSE(missing.empty());
  auto advertiser = CreateServiceAdvertiser();
  ASSERT_NE(advertiser, nullptr);
  EXPECT_FALSE(advertiser->Start(47100, {"i", "Studio", true}));
  EXPECT_NE(TestLog().find("dnsapi.dll has no " + missing), std::string::npos);
}

}  // namespace
}  // namespace Sorvane
