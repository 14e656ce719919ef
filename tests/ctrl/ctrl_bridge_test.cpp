#include <atomic>
#include <chrono>
#include <thread>

#include "bridge/transport_commands.h"
#include "ctrl/ctrl_fixture.h"
#include "support/plugin_log.h"

namespace Sorvane::test {
namespace {

using hostsim::HostCall;

struct Expected {
  std::string name;
  std::string detail;
};

std::vector<Expected> Strip(const std::vector<HostCall>& calls) {
  std::vector<Expected> out;
  for (const HostCall& c : calls)
    if (c.name != "GetPlayState")
      out.push_back({c.name, c.detail});
  return out;
}

bool operator==(const Expected& a, const Expected& b) {
  return a.name == b.name && a.detail == b.detail;
}

void PrintTo(const Expected& e, std::ostream* os) {
  *os << e.name << "(" << e.detail << ")";
}

class CtrlBridgeTest : public CtrlPluginTest {
 protected:
  void SetUp() override {
    CtrlPluginTest::SetUp();
    Connect();
    host().ClearCalls();
  }
  // The way the transmit plug-in calls: through the exported getter, on its own thread.
  bool TryFromControlThread(int32_t op) {
    bool ok = false;
    auto getter = reinterpret_cast<CtrlBridgeGetFn>(session_.Symbol(kCtrlBridgeGetExport));
    std::thread control([&] {
      lastControlThread_ = std::this_thread::get_id();
      ok = BridgeClient(getter).TryBridge(op);
    });
    control.join();
    return ok;
  }
  std::thread::id lastControlThread_;
};

TEST_F(CtrlBridgeTest, EveryTransportRequestReachesTheHost) {
  const std::vector<std::pair<int32_t, std::vector<Expected>>> table = {
      {1, {{"ExecuteCommand", "cmd.transport.step.forward"}}},
      {2, {{"ExecuteCommand", "cmd.transport.step.back"}}},
      {3, {{"ExecuteCommand", "cmd.transport.step.forward.five"}}},
      {4, {{"ExecuteCommand", "cmd.transport.step.back.five"}}},
      {5, {{"ExecuteCommand", "cmd.goto.in"}}},
      {6, {{"ExecuteCommand", "cmd.goto.out"}}},
      {7, {{"ShuttleStop", ""}, {"ShuttleLeft", ""}}},
      {8, {{"ShuttleStop", ""}}},
      {9, {{"ShuttleStop", ""}, {"ShuttleRight", ""}}},
      {10, {{"JogDial", "1 24 0"}, {"JogDial", "-1 24 0"}}},
  };
  for (const auto& [op, expected] : table) {
    host().ClearCalls();
    EXPECT_TRUE(TryFromControlThread(op)) << "op " << op;
    // The nudge's steps come from the UI thread after the call has returned.
    PumpUntil([&] { return Strip(host().Calls()).size() >= expected.size(); });
    EXPECT_EQ(Strip(host().Calls()), expected) << "op " << op;
  }
  EXPECT_EQ(host().LiveStrings(), 0);
}

// The host's UI thread: on Windows the thread that connected (and pumps here); on Linux the
// dispatcher thread that stands in for it.
void ExpectOnTheUiThread(const HostCall& call, std::thread::id controlThread) {
  EXPECT_NE(call.thread, controlThread) << call.name << " ran on the caller's thread";
#if defined(_WIN32)
  EXPECT_EQ(call.thread, std::this_thread::get_id()) << call.name << ": not the connecting thread";
#else
  EXPECT_NE(call.thread, std::this_thread::get_id()) << call.name << ": not the dispatcher thread";
#endif
}

TEST_F(CtrlBridgeTest, PlayPauseRunsOnTheUiThread) {
  EXPECT_TRUE(TryFromControlThread(static_cast<int32_t>(SVCtrlOpcode::PlayPause)));
  ASSERT_TRUE(PumpUntil([] { return host().PlayState() == 1; }));
  auto calls = host().Calls();
  ASSERT_FALSE(calls.empty());
  const HostCall play = calls.back();
  // No host window in this program: play falls back to the host's play command.
  EXPECT_EQ(play.detail, "cmd.transport.play.ctitoout");
  ExpectOnTheUiThread(play, lastControlThread_);

  // Playing: the second press pauses through the monitor's toggle.
  host().ClearCalls();
  EXPECT_TRUE(TryFromControlThread(static_cast<int32_t>(SVCtrlOpcode::PlayPause)));
  ASSERT_TRUE(PumpUntil([] { return host().PlayState() == 0; }));
  EXPECT_EQ(Strip(host().Calls()).back(),
            (Expected{"ExecuteCommand", "program.monitor/cmd.monitor.playstoptoggle"}));
}

TEST_F(CtrlBridgeTest, AnswersFollowTheConnectionAndTheHost) {
  EXPECT_EQ(Dispatch(11), -1);
  EXPECT_EQ(Dispatch(-1), -1);
  EXPECT_TRUE(host().Calls().empty());

  host().SetCommandResult(0x12345678);
  EXPECT_EQ(Dispatch(static_cast<int32_t>(SVCtrlOpcode::GotoIn)), -2);
  EXPECT_FALSE(TryFromControlThread(static_cast<int32_t>(SVCtrlOpcode::GotoIn)))
      << "a host error must let the keyboard take over";
  host().SetCommandResult(0);

  const CtrlDispatchFn dispatch = Bridge()->dispatch;
  session_.Disconnect();
  EXPECT_EQ(dispatch(static_cast<int32_t>(SVCtrlOpcode::StepForward)), -1)
      << "a stale dispatch pointer must not reach a disconnected host";
  EXPECT_FALSE(TryFromControlThread(static_cast<int32_t>(SVCtrlOpcode::StepForward)));
}

// The transmit plug-in asks for the nudge while it greets a new client, holding its own locks;
// the host's UI thread may be waiting for those. So the call only posts: both steps run on the UI
// thread, and the pause between them blocks neither thread.
TEST_F(CtrlBridgeTest, TheNudgeRunsOnTheUiThreadNotTheCallers) {
  EXPECT_TRUE(TryFromControlThread(static_cast<int32_t>(SVCtrlOpcode::Nudge)));
  ASSERT_TRUE(PumpUntil([] { return Strip(host().Calls()).size() == 2; }));
  for (const HostCall& call : host().Calls()) {
    if (call.name == "JogDial")
      ExpectOnTheUiThread(call, lastControlThread_);
  }
}

TEST_F(CtrlBridgeTest, ADisconnectDuringTheNudgeLeavesTheHostAlone) {
  EXPECT_EQ(Dispatch(static_cast<int32_t>(SVCtrlOpcode::Nudge)), 0);
  ASSERT_TRUE(PumpUntil([] { return !host().Calls().empty(); }));
  session_.Disconnect();
  const size_t callsAtDisconnect = Strip(host().Calls()).size();
  session_.Stop();  // joins the worker that would take the step back
  EXPECT_EQ(Strip(host().Calls()).size(), callsAtDisconnect)
      << "the host was called after Disconnect";
}

// A host command that the host runs on its UI thread keeps the connection busy until that thread
// gets to it. Disconnect, on that UI thread, must not wait for it without end.
TEST_F(CtrlBridgeTest, DisconnectOnTheUiThreadDoesNotWaitForeverForABusyConnection) {
  host().HoldCommands(true);
  std::atomic<bool> stepped{false};
  std::thread control([&] {
    Dispatch(static_cast<int32_t>(SVCtrlOpcode::StepForward));
    stepped = true;
  });
  ASSERT_TRUE(PumpUntil([] { return !host().Calls().empty(); }));
  // If Disconnect waited for the command, only this watchdog would end the wait.
  std::thread watchdog([] {
    std::this_thread::sleep_for(std::chrono::seconds(20));
    host().HoldCommands(false);
  });
  session_.Disconnect();
  EXPECT_FALSE(stepped.load()) << "Disconnect waited for the held command";
  EXPECT_EQ(Bridge()->dispatch, nullptr);
  EXPECT_NE(TestLog().find("ctrl: disconnect: the connection stayed busy"), std::string::npos);
  host().HoldCommands(false);
  control.join();
  watchdog.join();
}

TEST_F(CtrlBridgeTest, PollPublishesTheFirstStateThenEveryChangeOnce) {
  // A fresh connection, so that earlier tests' publications are out of the way.
  session_.Disconnect();
  // Its poll thread has ended (and published whatever it was going to) once it let go.
  ASSERT_TRUE(PumpUntil([] { return host().AcquiredSuites() == 2; }));
  const size_t before = PublishedStates().size();
  Connect();
  ASSERT_TRUE(PumpUntil([&] { return PublishedStates().size() == before + 1; }));
  EXPECT_EQ(PublishedStates().back(), 0u) << "the first state is published even when stopped";
  host().SetPlayState(1);
  ASSERT_TRUE(PumpUntil([&] { return PublishedStates().size() == before + 2; }));
  EXPECT_EQ(PublishedStates().back(), 1u);
  host().SetPlayState(0);
  ASSERT_TRUE(PumpUntil([&] { return PublishedStates().size() == before + 3; }));
  EXPECT_EQ(PublishedStates().back(), 0u);
  // Nothing more while the state holds.
  PumpUntil([] { return false; }, 500);
  EXPECT_EQ(PublishedStates().size(), before + 3);
}

}  // namespace
}  // namespace Sorvane::test
