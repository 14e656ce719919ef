#include <cstring>
#include <set>

#include "ctrl/ctrl_fixture.h"
#include "diag/log.h"
#include "sdk/control_surface_plugin.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane::test {
namespace {

using namespace sdk;

constexpr SPErr kParm = 0x5061726D;
constexpr SPErr kUnimplemented = 0x21494D50;

// A one-byte output between guard bytes: a four-byte write would show.
struct GuardedByte {
  uint8_t before[7];
  uint8_t value;
  uint8_t after[8];
  GuardedByte() { std::memset(this, 0xAA, sizeof *this); }
  bool GuardsIntact() const {
    for (uint8_t b : before)
      if (b != 0xAA)
        return false;
    for (uint8_t b : after)
      if (b != 0xAA)
        return false;
    return true;
  }
};

using CtrlPlugin = CtrlPluginTest;

TEST(CtrlEntryPoint, RefusesAMissingBasicSuiteAndFillsNothing) {
  std::string error;
  auto module = hostsim::LoadedModule::Open(SV_CTRL_MODULE_PATH, &error);
  ASSERT_NE(module, nullptr) << error;
  auto entry = reinterpret_cast<ControlSurfaceEntryPointFn>(module->Symbol("EntryPoint"));
  ASSERT_NE(entry, nullptr);
  ADOBESDK_ControlSurfacePluginFuncs funcs;
  std::memset(&funcs, 0x5A, sizeof funcs);
  EXPECT_EQ(entry(nullptr, 1, 0, 1, &funcs), kParm);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&funcs);
  for (size_t i = 0; i < sizeof funcs; ++i)
    ASSERT_EQ(bytes[i], 0x5A) << "byte " << i;
  // Only the two entries are exported; nothing of the plug-in's inside leaks out.
  EXPECT_NE(module->Symbol("sv_ctrl_bridge_get"), nullptr);
  EXPECT_EQ(module->Symbol("_ZN7Sorvane3LogERKNS_10LogChannelEiPKcz"), nullptr);
  EXPECT_EQ(module->Symbol("xTransmitEntry"), nullptr);
  module->KeepMappedUntilExit();
}

TEST_F(CtrlPlugin, EntryTableChecksItsArguments) {
  const auto& f = session_.funcs();
  ASSERT_TRUE(f.Startup && f.Shutdown && f.CreatePluginInstance && f.DeletePluginInstance &&
              f.GetSuiteList);
  EXPECT_EQ(f.CreatePluginInstance(nullptr), kParm);
  EXPECT_EQ(f.DeletePluginInstance(nullptr), kParm);
  EXPECT_EQ(f.GetSuiteList(nullptr), kParm);
  SPSuiteListRef list = nullptr;
  EXPECT_EQ(f.GetSuiteList(&list), 0);
  EXPECT_EQ(list, session_.suiteList());
}

TEST_F(CtrlPlugin, PublishesItsSuitesUnderTheirVersions) {
  EXPECT_NE(session_.pluginSuite(), nullptr);
  const void* v1 = host().FindPublishedSuite(session_.suiteList(), kControlSurfaceSuiteName, 1);
  const void* v2 = host().FindPublishedSuite(session_.suiteList(), kControlSurfaceSuiteName, 2);
  EXPECT_NE(v1, nullptr);
  EXPECT_EQ(v1, v2);  // one table under both versions
  EXPECT_NE(host().FindPublishedSuite(session_.suiteList(), kControlSurfaceTransportSuiteName, 1),
            nullptr);
  EXPECT_NE(host().FindPublishedSuite(session_.suiteList(), kControlSurfaceCommandSuiteName, 1),
            nullptr);
  EXPECT_EQ(host().FindPublishedSuite(session_.suiteList(), kControlSurfacePluginSuiteName, 2),
            nullptr);
}

TEST_F(CtrlPlugin, PluginSuiteNamesItselfAndHasNoSettings) {
  const auto* suite = session_.pluginSuite();
  ADOBESDK_String id{}, name{};
  ASSERT_EQ(suite->GetPluginID(nullptr, &id), 0);
  ASSERT_EQ(suite->GetPluginDisplayString(nullptr, &name), 0);
  ADOBESDK_StringSuite1 const* strings = nullptr;
  host().Basic()->AcquireSuite(kStringSuiteName, 1, reinterpret_cast<const void**>(&strings));
  uint8_t text[64];
  uint32_t size = sizeof text;
  ASSERT_EQ(strings->CopyToUTF8String(&id, text, &size), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "com.sorvane.controlsurface");
  size = sizeof text;
  ASSERT_EQ(strings->CopyToUTF8String(&name, text, &size), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "Sorvane");
  strings->DisposeString(&id);
  strings->DisposeString(&name);
  host().Basic()->ReleaseSuite(kStringSuiteName, 1);

  EXPECT_EQ(suite->GetPluginSettings(nullptr, nullptr), kUnimplemented);
  EXPECT_EQ(suite->SetPluginSettings(nullptr, nullptr), kUnimplemented);
  EXPECT_EQ(suite->Suspend(nullptr), 0);
  EXPECT_EQ(suite->Resume(nullptr), 0);
  EXPECT_EQ(suite->Connect(nullptr, host().HostRef(), nullptr), kParm);
  EXPECT_EQ(suite->Disconnect(nullptr), kParm);
}

TEST_F(CtrlPlugin, SettingsQueriesWriteExactlyOneByte) {
  const auto* suite = session_.pluginSuite();
  GuardedByte has;
  EXPECT_EQ(suite->HasSettingsDialog(nullptr, &has.value), 0);
  EXPECT_EQ(has.value, 0);
  EXPECT_TRUE(has.GuardsIntact());
  GuardedByte changed;
  EXPECT_EQ(suite->RunSettingsDialog(nullptr, nullptr, &changed.value), kUnimplemented);
  EXPECT_EQ(changed.value, 0);
  EXPECT_TRUE(changed.GuardsIntact());
  EXPECT_EQ(suite->HasSettingsDialog(nullptr, nullptr), 0);
}

TEST_F(CtrlPlugin, ConnectInstallsTheBridgeAndDisconnectRemovesIt) {
  ASSERT_NE(Bridge(), nullptr);
  EXPECT_EQ(Bridge()->version, kCtrlBridgeVersion);
  EXPECT_EQ(Bridge()->dispatch, nullptr);
  Connect();
  EXPECT_NE(session_.surface(), nullptr);
  EXPECT_NE(Bridge()->dispatch, nullptr);
  EXPECT_EQ(host().AcquiredSuites(), 5);  // string, SP suites, host, transport, command
  session_.Disconnect();
  EXPECT_EQ(Bridge()->dispatch, nullptr);
  // The poll thread lets go of the connection within its interval.
  EXPECT_TRUE(PumpUntil([] { return host().AcquiredSuites() == 2; }));
}

TEST_F(CtrlPlugin, MissingHostSuiteLeavesTheSurfaceDormant) {
  for (const char* missing : {kControlSurfaceHostSuiteName, kControlSurfaceHostTransportSuiteName,
                              kControlSurfaceHostCommandSuiteName}) {
    host().SetMissingSuites({missing});
    Connect();
    EXPECT_NE(session_.surface(), nullptr) << missing;
    EXPECT_EQ(Bridge()->dispatch, nullptr) << missing;
    EXPECT_EQ(host().AcquiredSuites(), 2) << missing << ": suites of a failed connect kept";
  }
  host().SetMissingSuites({});
}

std::string CtrlLog() {
  return ReadFile(LogFolder() / LogFileNameFor(HostKind::Unknown));
}

TEST_F(CtrlPlugin, DormantConnectSaysWhy) {
  host().SetMissingSuites({kControlSurfaceHostSuiteName});
  Connect();
  host().SetMissingSuites({});
  const std::string log = CtrlLog();
  EXPECT_NE(log.find("ctrl: AcquireSuite(Host V2) err=1394689636"), std::string::npos);
  EXPECT_NE(log.find("ctrl: Connect: suite acquisition failed — staying dormant"),
            std::string::npos);
}

TEST_F(CtrlPlugin, CommandListInTheLogStopsAt4096) {
  host().SetCommandCount(5000);
  Connect();
  const std::string log = CtrlLog();
  EXPECT_NE(log.find("ctrl: command count = 5000"), std::string::npos);
  EXPECT_NE(log.find("ctrl: cmd[4095] ctx=sim.context id=cmd.sim.4095 name=Command 4095"),
            std::string::npos);
  EXPECT_EQ(log.find("ctrl: cmd[4096]"), std::string::npos);
  // Every one of the 4 × 4096 strings the host made was disposed (checked in TearDown).
}

TEST_F(CtrlPlugin, ReconnectReplacesTheConnection) {
  Connect();
  Connect();
  EXPECT_NE(Bridge()->dispatch, nullptr);
  // The first connection's poll ends and its suites go back to the host.
  EXPECT_TRUE(PumpUntil([] { return host().AcquiredSuites() == 5; }));
  EXPECT_EQ(Dispatch(static_cast<int32_t>(SVCtrlOpcode::ShuttleStop)), 0);
}

TEST_F(CtrlPlugin, DisconnectingAnotherInstanceLeavesTheCurrentBridge) {
  Connect();
  ControlSurfacePluginRef other = nullptr;
  ASSERT_EQ(session_.funcs().CreatePluginInstance(&other), 0);
  ASSERT_EQ(session_.pluginSuite()->Disconnect(other), 0);
  EXPECT_NE(Bridge()->dispatch, nullptr);
  EXPECT_EQ(Dispatch(static_cast<int32_t>(SVCtrlOpcode::PlayPause)), 0);
  EXPECT_TRUE(PumpUntil([] { return host().PlayState() == 1; }))
      << "the UI dispatcher went with the other instance";
  ASSERT_EQ(session_.funcs().DeletePluginInstance(other), 0);
}

// A host that shuts the plug-in down without disconnecting must not be left with a bridge that
// runs host commands through suites already given back.
TEST_F(CtrlPlugin, ShutdownWithoutDisconnectTakesTheBridgeDown) {
  Connect();
  const CtrlDispatchFn dispatch = Bridge()->dispatch;
  ASSERT_NE(dispatch, nullptr);
  ASSERT_EQ(session_.funcs().Shutdown(), 0);
  EXPECT_EQ(Bridge()->dispatch, nullptr);
  host().ClearCalls();
  EXPECT_EQ(dispatch(static_cast<int32_t>(SVCtrlOpcode::StepForward)), -1);
  EXPECT_TRUE(host().Calls().empty()) << "a host command ran after Shutdown";
}

// A host may unload a module whose Startup failed without calling Shutdown.
TEST(CtrlStartup, AFailedStartupGivesBackWhatItTook) {
  auto& host = hostsim::ControlSurfaceHost::Instance();
  struct Case {
    const char* what;
    std::set<std::string> missing;
    bool suiteListFails;
  };
  for (const Case& c :
       {Case{"no SP Suites suite", {kSPSuitesSuiteName}, false}, Case{"no suite list", {}, true}}) {
    host.SetMissingSuites(c.missing);
    host.FailSuiteLists(c.suiteListFails);
    const int before = host.AcquiredSuites();
    hostsim::CtrlHostSession session;
    std::string error;
    EXPECT_FALSE(session.Start(SV_CTRL_MODULE_PATH, &error)) << c.what;
    EXPECT_EQ(host.AcquiredSuites(), before) << c.what << ": suites kept after a failed Startup";
    session.Stop();
  }
  host.SetMissingSuites({});
  host.FailSuiteLists(false);
}

// The host's play-state query stands in for anything that throws on one of our threads: the
// exception is logged once and ends that thread; the host and the surface go on.
TEST_F(CtrlPlugin, AnExceptionOnThePollThreadEndsOnlyThatThread) {
  host().ThrowFromPlayState(true);
  Connect();
  const std::string line =
      ":ctrl:FAULT] ctrl: play-state poll: exception stopped in the thread (the host's "
      "play-state query threw)";
  EXPECT_TRUE(PumpUntil([&] { return Count(TestLog(), line) == 1; })) << TestLog();
  host().ThrowFromPlayState(false);
  EXPECT_EQ(Dispatch(static_cast<int32_t>(SVCtrlOpcode::StepForward)), 0);
}

TEST_F(CtrlPlugin, ShutdownStopsTheThreadsItStarted) {
  Connect();
  session_.Stop();
  // Checked at once (no waiting): the poll thread was joined and dropped its suites.
  EXPECT_EQ(host().AcquiredSuites(), 0);
}

// ---- The surface object behind the published suites.

TEST_F(CtrlPlugin, SurfaceSuiteCallsTheMethodsTheHostMeans) {
  Connect();
  const auto* s = Published<ADOBESDK_ControlSurfaceSuite2>(kControlSurfaceSuiteName, 2);
  ASSERT_NE(s, nullptr);
  const ControlSurfaceRef surface = session_.surface();

  // Function 6 is Update: the host passes only the surface.
  EXPECT_EQ(s->Update(surface), kUnimplemented);
  // Function 7 is GetLumetriRef: it must write its output.
  auto lumetri = reinterpret_cast<ControlSurfaceLumetriRef>(0x1234);
  EXPECT_EQ(s->GetLumetriRef(surface, &lumetri), 0);
  EXPECT_EQ(lumetri, nullptr);
  EXPECT_EQ(s->GetLumetriRef(surface, nullptr), 0);

  ControlSurfaceTransportRef transport = nullptr;
  ControlSurfaceCommandRef command = nullptr;
  EXPECT_EQ(s->GetTransportRef(surface, &transport), 0);
  EXPECT_EQ(s->GetCommandRef(surface, &command), 0);
  EXPECT_NE(transport, nullptr);
  EXPECT_NE(command, nullptr);
  EXPECT_NE(static_cast<void*>(transport), static_cast<void*>(command));
  EXPECT_EQ(s->GetTransportRef(surface, nullptr), kParm);
  EXPECT_EQ(s->GetCommandRef(surface, nullptr), kParm);

  uint32_t flags = 77;
  EXPECT_EQ(s->GetControlSurfaceFlags(surface, &flags), 0);
  EXPECT_EQ(flags, 0u);
  auto mixer = reinterpret_cast<ControlSurfaceMixerRef>(0x1);
  auto marker = reinterpret_cast<ControlSurfaceMarkerRef>(0x1);
  EXPECT_EQ(s->GetMixerRef(surface, &mixer), 0);
  EXPECT_EQ(s->GetMarkerRef(surface, &marker), 0);
  EXPECT_EQ(mixer, nullptr);
  EXPECT_EQ(marker, nullptr);
  EXPECT_EQ(s->GetConfigIdentifier(surface, nullptr), kUnimplemented);
  EXPECT_EQ(s->Update(nullptr), kParm);

  // The refs reach the transport and command parts of the same object.
  const auto* t =
      Published<ADOBESDK_ControlSurfaceTransportSuite1>(kControlSurfaceTransportSuiteName, 1);
  EXPECT_EQ(t->SetPlayState(transport, 1), 0);
  EXPECT_EQ(t->SetStopState(transport, 1), kUnimplemented);
  EXPECT_EQ(t->SetTimeDisplay(transport, 0, nullptr), kUnimplemented);
  const auto* c =
      Published<ADOBESDK_ControlSurfaceCommandSuite1>(kControlSurfaceCommandSuiteName, 1);
  uint32_t count = 0;
  EXPECT_EQ(c->GetUserButtonCount(command, &count), kUnimplemented);
  EXPECT_EQ(c->GetUserButtonCommand(command, nullptr, nullptr, nullptr), kUnimplemented);
}

}  // namespace
}  // namespace Sorvane::test
