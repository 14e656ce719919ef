#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "diag/log.h"
#include "discovery/self_healing_advertiser.h"
#include "discovery/service_names.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kStepNs = 200 * kMs;  // the self-heal thread's pace
constexpr const char* kOther = "Other._sorvane._tcp.local";

using test::Count;
using test::TestLog;

// The network as the platform sees it.
struct World {
  bool ourEntryOnWire = false;  // set by a registration, cleared by a withdrawal or a loss
  bool showsOwnEntry = true;    // browsing reports our own entry (as Windows and Avahi do)
  bool allForNow = false;       // Avahi: a round ends once the daemon has told all it knows
  std::vector<std::string> others;
  std::function<std::string(const std::string&)> spell;  // how answers spell our name
  int failingRegistrations = 0;                          // the next N fail; -1: all of them
  bool updatesTxt = false;  // the platform can change a live entry's TXT record
  std::string renameTo;     // the name registrations get, when not the one asked for
};

// A platform over a World that records what it is asked to do. Browse answers come one callback
// per name, as DNSAPI and Avahi give them.
class RecordingAdvertiser final : public SelfHealingAdvertiser {
 public:
  RecordingAdvertiser(const Clock& clock, World& world)
      : SelfHealingAdvertiser(Options{&clock, false, false}), world_(world) {}
  ~RecordingAdvertiser() override { Stop(); }

  void Lose() { selfHeal().MarkLost(); }

  std::vector<std::string> calls;
  std::vector<AdvertisementRecord> registered;  // each successful registration's record
  int attempts = 0;
  int browses = 0;
  int txtUpdates = 0;

 private:
  Registration RegisterLocked(uint16_t, const AdvertisementRecord& record) override {
    ++attempts;
    calls.push_back("register");
    Registration r;
    r.askedName = dnssd::FullInstanceName(dnssd::InstanceLabel(record.name));
    if (world_.failingRegistrations != 0) {
      world_.failingRegistrations -= world_.failingRegistrations > 0 ? 1 : 0;
      return r;
    }
    r.ok = true;
    r.registeredName = world_.renameTo.empty() ? r.askedName : world_.renameTo;
    name_ = r.registeredName;
    world_.ourEntryOnWire = true;
    registered.push_back(record);
    return r;
  }
  void WithdrawLocked() override {
    calls.push_back("withdraw");
    world_.ourEntryOnWire = false;
  }
  bool BrowseLocked() override {
    ++browses;
    calls.push_back("browse");
    for (const std::string& other : world_.others)
      selfHeal().NoteNames({other});
    if (world_.ourEntryOnWire && world_.showsOwnEntry)
      selfHeal().NoteNames({world_.spell ? world_.spell(name_) : name_});
    if (world_.allForNow)
      selfHeal().EndRound();
    return true;
  }
  void EndBrowseLocked() override { calls.push_back("end browse"); }
  bool UpdateTxtLocked(const AdvertisementRecord& record) override {
    txtUpdates += world_.updatesTxt ? 1 : 0;
    if (world_.updatesTxt)
      registered.back() = record;
    return world_.updatesTxt;
  }
  const char* SystemName() const override { return "Test"; }

  World& world_;
  std::string name_;
};

// What happens to the network during a run, at its case's second.
enum class Happening {
  kNothing,
  kEntryVanishes,            // silently, as after a network change Windows does not report
  kNetworkChangeLosesEntry,  // and the address change is reported
  kPlatformReportsLoss,      // the daemon restarted: the platform knows
  kRegistrationsFail,        // the entry vanishes and every registration fails from now on
  kNetworkComesUp,           // registrations work from now on, and the change is reported
};

void Happen(Happening what, World& world, RecordingAdvertiser& advertiser) {
  switch (what) {
    case Happening::kNothing:
      return;
    case Happening::kEntryVanishes:
      world.ourEntryOnWire = false;
      return;
    case Happening::kNetworkChangeLosesEntry:
      world.ourEntryOnWire = false;
      advertiser.OnNetworkChange();
      return;
    case Happening::kPlatformReportsLoss:
      world.ourEntryOnWire = false;
      advertiser.Lose();
      return;
    case Happening::kRegistrationsFail:
      world.ourEntryOnWire = false;
      world.failingRegistrations = -1;
      return;
    case Happening::kNetworkComesUp:
      world.failingRegistrations = 0;
      advertiser.OnNetworkChange();
      return;
  }
}

World LonePc() {
  return World{};
}
World AmongOthers(std::function<std::string(const std::string&)> spell = nullptr) {
  World world;
  world.others = {kOther, "Third._sorvane._tcp.local"};
  world.spell = std::move(spell);
  return world;
}
World WithFlag(World world, bool World::*flag, bool value) {
  world.*flag = value;
  return world;
}
World Failing(World world) {
  world.failingRegistrations = -1;
  return world;
}

struct HealCase {
  const char* what;
  World world;
  int atSecond;
  Happening happening;
  int seconds;
  int registrations;      // successful ones, Start's included
  int maxAttempts;        // failed ones included
  int maxBrowses;         // how often the LAN is asked
  int backWithinSeconds;  // registered again this soon after the happening (-1: not asked)
  const char* name = "Edit Bay";
};

std::vector<HealCase> HealCases() {
  using H = Happening;
  const auto dotted = [](const std::string& n) { return n + "."; };
  const auto decimal = [](const std::string&) { return "Edit\\046Bay._sorvane._tcp.local"; };
  const auto upper = [](const std::string&) { return "EDIT\\.BAY._SORVANE._TCP.LOCAL."; };
  // clang-format off
  return {
    // A lone computer (the usual case): its own entry is all a round sees.
    {"a lone PC with nothing wrong browses ever less often", LonePc(), 0, H::kNothing, 3600, 1, 1, 12, -1},
    {"a lone PC notices the entry a network change lost", LonePc(), 100, H::kNetworkChangeLosesEntry, 300, 2, 2, 40, 15},
    {"a lone PC notices a silent loss at its next rounds", LonePc(), 100, H::kEntryVanishes, 300, 2, 2, 40, 70},
    {"empty rounds never count before a round has seen us",
     WithFlag(LonePc(), &World::showsOwnEntry, false), 0, H::kNothing, 3600, 1, 1, 12, -1},
    // Our name in the spellings a browse answer may use, among other services.
    {"a trailing root dot", AmongOthers(dotted), 0, H::kNothing, 1800, 1, 1, 20, -1, "Edit.Bay"},
    {"a decimal escape", AmongOthers(decimal), 0, H::kNothing, 1800, 1, 1, 20, -1, "Edit.Bay"},
    {"other letter case", AmongOthers(upper), 0, H::kNothing, 1800, 1, 1, 20, -1, "Edit.Bay"},
    {"Avahi's rounds end at all-for-now yet back off all the same",
     WithFlag(AmongOthers(), &World::allForNow, true), 0, H::kNothing, 3600, 1, 1, 12, -1},
    {"an entry missing among others is published again", AmongOthers(), 100, H::kEntryVanishes, 300, 2, 2, 40, 70},
    {"an entry the platform reports lost comes back at once", LonePc(), 100, H::kPlatformReportsLoss, 300, 2, 2, 40, 1},
    {"a re-publish that keeps failing backs off to minutes", AmongOthers(), 30, H::kRegistrationsFail, 3600, 1, 22, 20, -1},
    // The host starts before the network is up.
    {"a failed Start is retried, at once when the network comes", Failing(LonePc()), 120, H::kNetworkComesUp, 300, 1, 9, 40, 3},
  };
  // clang-format on
}

// Every case runs on the manual clock in the self-heal thread's steps, with the world changing as
// its events say.
TEST(SelfHealingAdvertiser, HealsWithoutChurn) {
  for (HealCase& c : HealCases()) {
    SCOPED_TRACE(c.what);
    test::ManualClock clock;
    RecordingAdvertiser advertiser(clock, c.world);
    advertiser.Start(47100, {"id-1", c.name, false});
    int64_t lastRegisteredNs = 0;
    size_t registrations = advertiser.registered.size();
    bool happened = c.happening == Happening::kNothing;
    for (int64_t elapsed = 0; elapsed < c.seconds * 1000 * kMs; elapsed += kStepNs) {
      clock.Advance(kStepNs);
      if (!happened && c.atSecond * 1000 * kMs <= elapsed) {
        Happen(c.happening, c.world, advertiser);
        happened = true;
      }
      advertiser.SelfHealStep();
      if (advertiser.registered.size() != registrations)
        lastRegisteredNs = elapsed;
      registrations = advertiser.registered.size();
    }
    EXPECT_EQ(static_cast<int>(registrations), c.registrations);
    EXPECT_LE(advertiser.attempts, c.maxAttempts);
    EXPECT_LE(advertiser.browses, c.maxBrowses);
    if (c.backWithinSeconds >= 0) {
      EXPECT_TRUE(advertiser.IsRegistered());
      EXPECT_GE(lastRegisteredNs, c.atSecond * 1000 * kMs);
      EXPECT_LE(lastRegisteredNs, (c.atSecond + c.backWithinSeconds) * 1000 * kMs);
    }
  }
}

// One advertiser among other services, driven in the self-heal thread's steps.
class SelfHealingAdvertiserTest : public ::testing::Test {
 protected:
  // Runs the steps of `seconds`, or fewer once `done` holds.
  void Run(int seconds, const std::function<bool()>& done = nullptr) {
    for (int step = 0; step < seconds * 5 && !(done && done()); ++step) {
      clock.Advance(kStepNs);
      advertiser.SelfHealStep();
    }
  }

  World world = AmongOthers();
  test::ManualClock clock;
  RecordingAdvertiser advertiser{clock, world};
};

TEST_F(SelfHealingAdvertiserTest, RepeatedFailuresAreLoggedOnce) {
  ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", false}));
  Happen(Happening::kRegistrationsFail, world, advertiser);
  Run(3600);
  ASSERT_GT(advertiser.attempts, 10);
  const std::string log = TestLog();
  EXPECT_EQ(Count(log, "re-register failed"), 1u) << log;
  EXPECT_EQ(Count(log, "re-publishing"), 1u);
  EXPECT_EQ(Count(log, "ABSENT"), 1u);
}

TEST_F(SelfHealingAdvertiserTest, StartRegistersStopWithdrawsTwiceHarmless) {
  ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", true}));
  EXPECT_TRUE(advertiser.IsRegistered());
  EXPECT_EQ(advertiser.calls, (std::vector<std::string>{"withdraw", "register"}));
  EXPECT_EQ(advertiser.selfHealState().ourName(), "Studio._sorvane._tcp.local");
  advertiser.Stop();
  EXPECT_FALSE(advertiser.IsRegistered());
  EXPECT_FALSE(world.ourEntryOnWire);
  advertiser.Stop();
  advertiser.calls.clear();
  Run(10);
  EXPECT_TRUE(advertiser.calls.empty()) << "nothing runs after Stop";
}

TEST_F(SelfHealingAdvertiserTest, AbsentEntryIsWithdrawnBeforeItIsRegisteredAgain) {
  ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", true}));
  Happen(Happening::kEntryVanishes, world, advertiser);
  Run(60, [this] { return advertiser.registered.size() == 2; });
  ASSERT_EQ(advertiser.registered.size(), 2u);
  const std::vector<std::string> republish = {"withdraw", "register"};
  EXPECT_NE(std::search(advertiser.calls.begin(), advertiser.calls.end(), republish.begin(),
                        republish.end()),
            advertiser.calls.end());
  EXPECT_TRUE(advertiser.selfHealState().present());
}

TEST_F(SelfHealingAdvertiserTest, TheSystemsNewNameIsAdopted) {
  ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", true}));
  Happen(Happening::kEntryVanishes, world, advertiser);
  world.renameTo = "Studio (2)._sorvane._tcp.local";
  Run(600);
  // Re-published once, under the system's name; seen under it ever since, with the old name now
  // someone else's.
  EXPECT_EQ(advertiser.registered.size(), 2u);
  EXPECT_EQ(advertiser.selfHealState().ourName(), "Studio (2)._sorvane._tcp.local");
  EXPECT_EQ(Count(TestLog(), "Test uniquified our name — adopting it"), 1u);
  EXPECT_TRUE(advertiser.selfHealState().present());
}

// The "transmit" value follows the transport's state without waiting on the caller's thread: in
// place where the platform can change the TXT record, by registering again where it cannot.
TEST(SelfHealingAdvertiser, TransmitValueFollowsTheState) {
  for (const bool updatesTxt : {true, false}) {
    SCOPED_TRACE(updatesTxt ? "TXT changed in place" : "registered again");
    World world;
    world.updatesTxt = updatesTxt;
    test::ManualClock clock;
    RecordingAdvertiser advertiser(clock, world);
    ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", false}));
    advertiser.SetTransmit(true);
    EXPECT_FALSE(advertiser.registered.back().transmit) << "applied by the self-heal step";
    advertiser.SelfHealStep();
    EXPECT_TRUE(advertiser.registered.back().transmit);
    EXPECT_EQ(advertiser.registered.size(), updatesTxt ? 1u : 2u);
    EXPECT_EQ(advertiser.txtUpdates, updatesTxt ? 1 : 0);
    advertiser.SetTransmit(true);  // no change: nothing happens
    advertiser.SelfHealStep();
    EXPECT_EQ(advertiser.registered.size(), updatesTxt ? 1u : 2u);
    EXPECT_EQ(advertiser.txtUpdates, updatesTxt ? 1 : 0);
    advertiser.SetTransmit(false);
    advertiser.SelfHealStep();
    EXPECT_FALSE(advertiser.registered.back().transmit);
    EXPECT_TRUE(advertiser.IsRegistered());
  }
}

TEST_F(SelfHealingAdvertiserTest, TransmitChangedWhileUnregisteredGoesWithTheNextRegistration) {
  world.failingRegistrations = 1;
  EXPECT_FALSE(advertiser.Start(47100, {"id-1", "Studio", false}));
  advertiser.SetTransmit(true);
  Run(4, [this] { return advertiser.IsRegistered(); });
  ASSERT_TRUE(advertiser.IsRegistered());
  EXPECT_TRUE(advertiser.registered.back().transmit);
}

// A platform whose browse throws, as a bug there would.
class ThrowingAdvertiser final : public SelfHealingAdvertiser {
 public:
  ThrowingAdvertiser() : SelfHealingAdvertiser(Options{nullptr, true, false}) {}
  ~ThrowingAdvertiser() override { Stop(); }

 private:
  Registration RegisterLocked(uint16_t, const AdvertisementRecord&) override {
    return {true, "Studio", "Studio"};
  }
  void WithdrawLocked() override {}
  bool BrowseLocked() override { throw std::runtime_error("browse broke"); }
  void EndBrowseLocked() override {}
  const char* SystemName() const override { return "Test"; }
};

// The self-heal thread is ours inside the host's process: an exception there ends that thread
// with one FAULT line, not the host.
TEST(SelfHealingAdvertiser, AnExceptionEndsTheSelfHealThreadNotTheHost) {
  ThrowingAdvertiser advertiser;
  ASSERT_TRUE(advertiser.Start(47100, {"id-1", "Studio", false}));
  std::string log;
  for (int i = 0; i < 100 && log.find("browse broke") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    log = TestLog();
  }
  EXPECT_EQ(Count(log, "FAULT] self-heal thread: exception stopped"), 1u) << log;
  advertiser.Stop();
  EXPECT_FALSE(advertiser.IsRegistered());
}

}  // namespace
}  // namespace Sorvane
