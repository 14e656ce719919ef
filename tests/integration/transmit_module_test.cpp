#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "encoder/encoder_factory.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "sv-host/host_suites.h"
#include "sv-host/module_loader.h"
#include "sv-host/test_encoder.h"

namespace Sorvane {
namespace {

using namespace sdk;
using hostsim::HostSuites;
using hostsim::LoadedModule;

// The module stays loaded for the whole program, as in the host.
const LoadedModule& Module() {
  static std::unique_ptr<LoadedModule> module = [] {
    std::string error;
    auto m = LoadedModule::Open(SV_TRANSMIT_MODULE_PATH, &error);
    EXPECT_NE(m, nullptr) << error;
    return m;
  }();
  return *module;
}

xTransmitEntryFn Entry() {
  return reinterpret_cast<xTransmitEntryFn>(Module().Symbol("xTransmitEntry"));
}

std::string ModuleLog(const char* fileName) {
  return test::ReadFile(LogFolder() / fileName);
}

TEST(TransmitModule, ExportsOnlyItsEntries) {
  ASSERT_NE(Entry(), nullptr);
  EXPECT_EQ(Module().Symbol("_ZN7Sorvane3LogERKNS_10LogChannelEiPKcz"), nullptr);
  EXPECT_EQ(Module().Symbol("TransmitEntry"), nullptr);
}

TEST(TransmitModule, DrivesTheTableLikeTheHost) {
  tmModule table{};
  tmStdParms std{};
  std.piSuites = HostSuites::Instance().PiSuites();
  ASSERT_EQ(Entry()(tmInterfaceVersion4, 1, std.piSuites, &table), tmResult_Success);

  tmPluginInfo info{};
  ASSERT_EQ(table.Startup(&std, &info), tmResult_Success);
  const int version = info.outInterfaceVersion;  // copied out: the record is byte-packed
  const int streaming = info.outHasStreaming;
  EXPECT_EQ(version, 4);
  EXPECT_EQ(streaming, 1);

  tmInstance record{};
  record.inAudioSampleRate = 48000;
  record.inNumChannels = 2;
  record.inVideoFrameRate = HostSuites::kTicksPerSecond / 25;
  tmVideoMode mode{};
  EXPECT_EQ(table.QueryVideoMode(&std, &record, 0, &mode), tmResult_Success);
  EXPECT_EQ(mode.outLatency, 2 * record.inVideoFrameRate);
  EXPECT_EQ(table.QueryVideoMode(&std, &record, 1, &mode), -4);

  // An encoder the module's own factory finds: libavcodec's on Linux (a build dependency), the
  // test encoder registered here on Windows (Wine has none of its own).
  std::ostringstream progress;
  std::string error;
  const auto testEncoder = hostsim::StartTestEncoder("sync", progress, &error);
  ASSERT_NE(CreateDefaultEncoder(), nullptr) << "no encoder on this machine: " << error;
  ASSERT_EQ(table.CreateInstance(&std, &record), tmResult_Success);
  const std::string log = ModuleLog("plugin-x.log");
  EXPECT_NE(log.find("TransmitInstance created"), std::string::npos);
  EXPECT_NE(log.find("SetVideoFrameRate: 10160640000 ticks/frame → 25.000 → 25 fps"),
            std::string::npos);
  EXPECT_EQ(table.ActivateDeactivate(&std, &record, PrActivationEvent_PlayerActivated, 1, 1), 0);
  EXPECT_EQ(table.DisposeInstance(&std, &record), tmResult_Success);
  void* const privateData = record.ioPrivateInstanceData;  // copied out of the packed record
  EXPECT_EQ(privateData, nullptr);
  EXPECT_EQ(table.Shutdown(&std), tmResult_Success);
  EXPECT_NE(log.find("crash handler installed"), std::string::npos) << "Startup installs it";
}

// sv-host re-runs itself under the host's executable name; the module then logs to that host's
// file.
std::string Quoted(std::string path) {
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/')
    path = "Z:" + path;
  for (char& c : path) {
    if (c == '/')
      c = '\\';
  }
#endif
  return "\"" + path + "\"";
}

int RunHostAs(const std::string& hostName) {
  // The host keeps its state and logs in this program's profile.
  const std::string command = Quoted(SV_HOST_PROGRAM) + " --plugin " +
                              Quoted(SV_TRANSMIT_MODULE_PATH) + " --profile " +
                              Quoted(test::ProfileRoot().string()) + " --seconds 0 --host-name \"" +
                              hostName + "\"";
#if defined(_WIN32)
  return std::system(("\"" + command + "\"").c_str());
#else
  return std::system(command.c_str());
#endif
}

using test::Count;

// Startup logs once per run whatever becomes of the instance, so each run adds exactly one line
// to its host's file and none to the other's.
TEST(TransmitModule, HostNameSelectsTheLogFile) {
  const std::string startup = ":main:INFO] Startup: Sorvane ";
  const size_t ae = Count(ModuleLog("plugin-ae.log"), startup);
  const size_t premiere = Count(ModuleLog("plugin.log"), startup);
  RunHostAs("AfterFX.exe");
  EXPECT_EQ(Count(ModuleLog("plugin-ae.log"), startup), ae + 1);
  EXPECT_EQ(Count(ModuleLog("plugin.log"), startup), premiere);
  RunHostAs("Adobe Premiere Pro.exe");
  EXPECT_EQ(Count(ModuleLog("plugin.log"), startup), premiere + 1);
  EXPECT_EQ(Count(ModuleLog("plugin-ae.log"), startup), ae + 1);
}

}  // namespace
}  // namespace Sorvane
