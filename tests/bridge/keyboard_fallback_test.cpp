#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "bridge/key_injector.h"
#include "bridge/keyboard_keys.h"
#include "bridge/transport_commands.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"

namespace Sorvane {
namespace {

constexpr uint16_t kVkI = 0x49;

class RecordingInjector final : public KeyInjector {
 public:
  void Inject(const std::vector<KeyEvent>& events) override {
    std::lock_guard<std::mutex> lock(lock_);
    batches_.push_back(events);
  }
  std::vector<std::vector<KeyEvent>> batches() {
    std::lock_guard<std::mutex> lock(lock_);
    return batches_;
  }

 private:
  std::mutex lock_;
  std::vector<std::vector<KeyEvent>> batches_;
};

class KeyboardFallback : public ::testing::Test {
 protected:
  void SetUp() override { SetKeyInjector(&injector_); }
  void TearDown() override { SetKeyInjector(nullptr); }
  RecordingInjector injector_;
};

TEST(KeyTables, EveryTransportRequestHasTheHostShortcut) {
  struct Row {
    uint32_t request;
    uint16_t key;
    bool shift;
  };
  const Row rows[] = {{0, kVkSpace, false}, {1, kVkRight, false}, {2, kVkLeft, false},
                      {3, kVkRight, true},  {4, kVkLeft, true},   {5, 0x49, true},
                      {6, 0x4F, true},      {7, 0x4A, false},     {8, 0x4B, false},
                      {9, 0x4C, false}};
  for (const Row& row : rows) {
    const auto tap = FallbackKeyFor(row.request);
    ASSERT_TRUE(tap) << row.request;
    EXPECT_EQ(tap->virtualKey, row.key) << row.request;
    EXPECT_EQ(tap->withShift, row.shift) << row.request;
  }
  EXPECT_FALSE(FallbackKeyFor(10));
  EXPECT_FALSE(FallbackKeyFor(0xFFFFFFFFu));
}

TEST(KeyTables, ShiftWrapsTheKeyAndOnlyNavigationKeysAreExtended) {
  EXPECT_EQ(KeyTapEvents({kVkI, true}), (std::vector<KeyEvent>{{kVkShift, false, false},
                                                               {kVkI, false, false},
                                                               {kVkI, true, false},
                                                               {kVkShift, true, false}}));
  // Without the extended flag, arrows and Page keys arrive as keypad keys.
  EXPECT_EQ(KeyTapEvents({kVkLeft, true}), (std::vector<KeyEvent>{{kVkShift, false, false},
                                                                  {kVkLeft, false, true},
                                                                  {kVkLeft, true, true},
                                                                  {kVkShift, true, false}}));
  for (uint16_t key : {kVkPageUp, kVkPageDown, kVkRight})
    EXPECT_TRUE(KeyTapEvents({key, false})[0].extended) << key;
  for (uint16_t key : {kVkSpace, uint16_t(0x4A), uint16_t(0x4B), uint16_t(0x4C)})
    EXPECT_FALSE(KeyTapEvents({key, false})[0].extended) << key;
}

TEST(KeyTables, NudgeKeysFollowTheHost) {
  const NudgeKeys ae = NudgeKeysFor(HostKind::AfterEffects);
  EXPECT_EQ(ae.first.virtualKey, kVkPageDown);
  EXPECT_EQ(ae.second.virtualKey, kVkPageUp);
  EXPECT_STREQ(ae.label, "PgDn/PgUp (AE)");
  for (HostKind kind : {HostKind::PremierePro, HostKind::MediaEncoder, HostKind::Unknown}) {
    const NudgeKeys keys = NudgeKeysFor(kind);
    EXPECT_EQ(keys.first.virtualKey, kVkRight);
    EXPECT_EQ(keys.second.virtualKey, kVkLeft);
    EXPECT_FALSE(keys.first.withShift || keys.second.withShift);
  }
}

TEST_F(KeyboardFallback, GoToInTypesExactlyShiftI) {
  RunKeyboardFallback(5);
  const auto batches = injector_.batches();
  ASSERT_EQ(batches.size(), 1u);  // one injection call, so nothing can come in between
  EXPECT_EQ(batches[0], KeyTapEvents({kVkI, true}));
  EXPECT_EQ(batches[0].size(), 4u);
}

TEST_F(KeyboardFallback, NudgeTapsForwardThenBack) {
  RunKeyboardFallback(static_cast<uint32_t>(SVCtrlOpcode::Nudge));
  const auto batches = injector_.batches();
  ASSERT_EQ(batches.size(), 2u);
  // This test program is not one of the known hosts, so it gets the arrow pair.
  EXPECT_EQ(batches[0], KeyTapEvents({kVkRight, false}));
  EXPECT_EQ(batches[1], KeyTapEvents({kVkLeft, false}));
}

// The host needs time to render the first step before the second: 60 ms between the two taps
// when the keys reach it, none when they only go to the log.
class TimedInjector final : public KeyInjector {
 public:
  TimedInjector(const Clock& clock, bool reaches) : clock_(clock), reaches_(reaches) {}
  void Inject(const std::vector<KeyEvent>&) override { times.push_back(clock_.NowNs()); }
  bool ReachesTheHost() const override { return reaches_; }
  std::vector<int64_t> times;

 private:
  const Clock& clock_;
  const bool reaches_;
};

TEST(KeyboardNudge, WaitsSixtyMillisecondsBetweenTheTapsAndSaysWhichKeys) {
  test::ManualClock clock;
  for (bool reaches : {true, false}) {
    TimedInjector injector(clock, reaches);
    SetKeyInjector(&injector);
    KeyboardNudge(clock);
    SetKeyInjector(nullptr);
    ASSERT_EQ(injector.times.size(), 2u);
    EXPECT_EQ(injector.times[1] - injector.times[0], reaches ? 60'000'000 : 0) << reaches;
  }
  // This program is not one of the known hosts: the arrows.
  EXPECT_EQ(test::Count(test::TestLog(), ":kbd:INFO] nudge: →← (Premiere)"), 2u);
}

TEST_F(KeyboardFallback, UnknownCommandTypesNothing) {
  RunKeyboardFallback(11);
  EXPECT_TRUE(injector_.batches().empty());
}

// ---- The transmit side's view of the bridge record.

std::atomic<int> dispatchCalls{0};
std::atomic<int32_t> lastOp{-100};
std::atomic<int32_t> dispatchAnswer{0};
int32_t FakeDispatch(int32_t op) {
  ++dispatchCalls;
  lastOp = op;
  return dispatchAnswer.load();
}
CtrlBridge record{FakeDispatch, kCtrlBridgeVersion};
CtrlBridge* GetRecord() {
  return &record;
}
CtrlBridge* GetNull() {
  return nullptr;
}

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    record = {FakeDispatch, kCtrlBridgeVersion};
    dispatchCalls = 0;
    dispatchAnswer = 0;
  }
};

TEST_F(Bridge, SucceedsExactlyWhenDispatchAnswersZero) {
  const BridgeClient client(GetRecord);
  EXPECT_TRUE(client.TryBridge(3));
  EXPECT_EQ(lastOp.load(), 3);
  for (int32_t answer : {-1, -2, 1}) {
    dispatchAnswer = answer;
    EXPECT_FALSE(client.TryBridge(4)) << answer;
  }
  EXPECT_EQ(dispatchCalls.load(), 4);
}

TEST_F(Bridge, RefusesAMissingOrForeignRecordWithoutCallingIt) {
  EXPECT_FALSE(BridgeClient(nullptr).TryBridge(0));
  EXPECT_FALSE(BridgeClient(GetNull).TryBridge(0));
  record.version = 2;
  EXPECT_FALSE(BridgeClient(GetRecord).TryBridge(0));
  record = {nullptr, kCtrlBridgeVersion};
  EXPECT_FALSE(BridgeClient(GetRecord).TryBridge(0));
  EXPECT_EQ(dispatchCalls.load(), 0);
}

TEST_F(Bridge, SeesAConnectOrDisconnectAtOnce) {
  const BridgeClient client(GetRecord);
  record.dispatch = nullptr;
  EXPECT_FALSE(client.TryBridge(1));
  record.dispatch = FakeDispatch;
  EXPECT_TRUE(client.TryBridge(1));
}

TEST(BridgeLookup, AbsentControlSurfaceMeansKeyboard) {
  // Nothing in this program is called SorvaneCtrl.acsrf: no bridge, so the caller types keys.
  EXPECT_EQ(ResolveBridge(), nullptr);
  EXPECT_FALSE(TryBridge(0));
  EXPECT_FALSE(TryBridge(10));
}

}  // namespace
}  // namespace Sorvane
