#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "diag/log.h"
#include "discovery/self_healing_advertiser.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

constexpr int64_t kMs = 1'000'000;

using test::Count;
using test::TestLog;

// A platform that records what it is asked to do; each registration's outcome is scripted.
class RecordingAdvertiser final : public SelfHealingAdvertiser {
 public:
  explicit RecordingAdvertiser(const Clock& clock)
      : SelfHealingAdvertiser(Options{&clock, false}) {}
  ~RecordingAdvertiser() override { Stop(); }

  // The name the next registrations get ("" = they fail); by default the name asked for.
  std::deque<std::string> outcomes;
  std::vector<std::string> calls;
  int live = 0;  // registrations not yet withdrawn
  bool browseWorks = true;

  void Report(const std::vector<std::string>& names) { selfHeal().NoteNames(names); }

 private:
  Registration RegisterLocked(uint16_t port, const AdvertisementRecord& record) override {
    calls.push_back("register " + record.name);
    Registration r;
    r.askedName = record.name + "._sorvane._tcp.local";
    r.registeredName = r.askedName;
    if (!outcomes.empty()) {
      r.registeredName = outcomes.front();
      outcomes.pop_front();
    }
    r.ok = !r.registeredName.empty();
    live += r.ok ? 1 : 0;
    return r;
  }
  void WithdrawLocked() override {
    calls.push_back("withdraw");
    live = 0;
  }
  bool BrowseLocked() override {
    calls.push_back("browse");
    return browseWorks;
  }
  void EndBrowseLocked() override { calls.push_back("end browse"); }
  const char* SystemName() const override { return "Test"; }
};

class SelfHealingAdvertiserTest : public ::testing::Test {
 protected:
  // Lets a browse round run out with the given names reported in it.
  void RoundWith(const std::vector<std::string>& names) {
    advertiser.Report(names);
    clock.Advance(SelfHealState::kRoundLengthNs);
    advertiser.SelfHealStep();
  }
  void Absent() {
    RoundWith({"Other._sorvane._tcp.local"});
    RoundWith({"Other._sorvane._tcp.local"});
    ASSERT_FALSE(advertiser.selfHealState().present());
  }
  size_t Registrations() const {
    size_t n = 0;
    for (const auto& c : advertiser.calls)
      n += c.rfind("register", 0) == 0 ? 1 : 0;
    return n;
  }

  test::ManualClock clock;
  RecordingAdvertiser advertiser{clock};
  const AdvertisementRecord record{"id-1", "Studio", true};
};

TEST_F(SelfHealingAdvertiserTest, StartRegistersAndBrowsesStopWithdrawsTwiceHarmless) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  EXPECT_TRUE(advertiser.IsRegistered());
  EXPECT_EQ(advertiser.calls, (std::vector<std::string>{"withdraw", "register Studio", "browse"}));
  EXPECT_EQ(advertiser.selfHealState().ourName(), "Studio._sorvane._tcp.local");
  advertiser.Stop();
  EXPECT_FALSE(advertiser.IsRegistered());
  EXPECT_EQ(advertiser.live, 0);
  advertiser.Stop();
  advertiser.calls.clear();
  clock.Advance(10'000 * kMs);
  advertiser.SelfHealStep();
  EXPECT_TRUE(advertiser.calls.empty()) << "nothing runs after Stop";
}

TEST_F(SelfHealingAdvertiserTest, AbsentEntryIsWithdrawnThenRegisteredAgain) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  Absent();
  advertiser.calls.clear();
  clock.Advance(1500 * kMs);
  advertiser.SelfHealStep();
  ASSERT_GE(advertiser.calls.size(), 2u);
  EXPECT_EQ(advertiser.calls[advertiser.calls.size() - 2], "withdraw");
  EXPECT_EQ(advertiser.calls.back(), "register Studio");
  EXPECT_EQ(advertiser.live, 1) << "never two copies";
  EXPECT_TRUE(advertiser.IsRegistered());
  EXPECT_TRUE(advertiser.selfHealState().present());
}

TEST_F(SelfHealingAdvertiserTest, AFailedRepublishIsRetriedEvery1500Ms) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  Absent();
  advertiser.outcomes = {"", ""};
  const size_t before = Registrations();
  clock.Advance(1500 * kMs);
  advertiser.SelfHealStep();
  EXPECT_FALSE(advertiser.IsRegistered());
  EXPECT_EQ(Registrations(), before + 1);
  clock.Advance(1000 * kMs);
  advertiser.SelfHealStep();
  EXPECT_EQ(Registrations(), before + 1);
  clock.Advance(500 * kMs);
  advertiser.SelfHealStep();
  EXPECT_EQ(Registrations(), before + 2) << "a failed attempt must not end the self-heal";
  clock.Advance(1500 * kMs);
  advertiser.SelfHealStep();
  EXPECT_EQ(Registrations(), before + 3);
  EXPECT_TRUE(advertiser.IsRegistered());
  EXPECT_EQ(advertiser.live, 1);
  clock.Advance(1500 * kMs);
  advertiser.SelfHealStep();
  EXPECT_EQ(Registrations(), before + 3) << "present again: no more attempts";
}

TEST_F(SelfHealingAdvertiserTest, TheSystemsNewNameIsAdopted) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  Absent();
  advertiser.outcomes = {"Studio (2)._sorvane._tcp.local"};
  clock.Advance(1500 * kMs);
  advertiser.SelfHealStep();
  EXPECT_EQ(advertiser.selfHealState().ourName(), "Studio (2)._sorvane._tcp.local");
  EXPECT_EQ(Count(TestLog(), "Test uniquified our name — adopting it"), 1u);
  // Seen under the new name: present, and the old name counts as someone else's.
  RoundWith({"studio (2)._sorvane._tcp.local", "Studio._sorvane._tcp.local"});
  EXPECT_TRUE(advertiser.selfHealState().present());
  EXPECT_EQ(advertiser.selfHealState().absentCount(), 0u);
}

TEST_F(SelfHealingAdvertiserTest, OtherServicesAloneNeverDuplicateALiveEntry) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  // Every round reports other services and us: however many callbacks, nothing is re-published.
  for (int i = 0; i < 10; ++i) {
    advertiser.Report({"Other._sorvane._tcp.local"});
    advertiser.Report({"Third._sorvane._tcp.local"});
    RoundWith({"Studio._sorvane._tcp.local"});
  }
  EXPECT_EQ(Registrations(), 1u);
}

TEST_F(SelfHealingAdvertiserTest, RoundsRestartTheBrowseAndAFailedStartMeansNoSelfHeal) {
  ASSERT_TRUE(advertiser.Start(47100, record));
  advertiser.calls.clear();
  RoundWith({});
  EXPECT_EQ(advertiser.calls, std::vector<std::string>{"browse"});
  advertiser.Stop();

  RecordingAdvertiser failing(clock);
  failing.outcomes = {""};
  EXPECT_FALSE(failing.Start(47100, record));
  EXPECT_FALSE(failing.IsRegistered());
  EXPECT_EQ(failing.calls, (std::vector<std::string>{"withdraw", "register Studio"}));
}

}  // namespace
}  // namespace Sorvane
