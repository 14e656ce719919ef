#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/ctrl_bridge.h"
#include "ctrl/ui_pump.h"
#include "sv-host/ctrl_host.h"
#include "sv-host/module_loader.h"

namespace Sorvane::test {

// The stand-in transmit module, loaded before any surface connects (the plug-in looks it up
// once per process).
inline hostsim::LoadedModule& FakeTransmit() {
  static std::unique_ptr<hostsim::LoadedModule> module = [] {
    std::string error;
    auto m = hostsim::LoadedModule::Open(SV_FAKE_TRANSMIT_PATH, &error);
    EXPECT_NE(m, nullptr) << error;
    return m;
  }();
  return *module;
}

inline std::vector<uint32_t> PublishedStates() {
  using Fn = uint32_t (*)(uint32_t*, uint32_t);
  auto fn = reinterpret_cast<Fn>(FakeTransmit().Symbol("fake_published_states"));
  uint32_t states[64] = {};
  const uint32_t n = fn(states, 64);
  return std::vector<uint32_t>(states, states + (n < 64 ? n : 64));
}

// A connected control surface in the fake host, shut down after each test.
class CtrlPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeTransmit();
    host().SetMissingSuites({});
    host().SetCommandResult(0);
    host().SetCommandCount(3);
    host().SetPlayState(0);
    host().ClearCalls();
    std::string error;
    ASSERT_TRUE(session_.Start(SV_CTRL_MODULE_PATH, &error)) << error;
  }
  void TearDown() override {
    session_.Stop();
    EXPECT_EQ(host().AcquiredSuites(), 0) << "suites still held after Shutdown";
    EXPECT_EQ(host().LiveStrings(), 0) << "host strings leaked";
  }

  void Connect() {
    std::string error;
    ASSERT_TRUE(session_.Connect(&error)) << error;
  }
  static hostsim::ControlSurfaceHost& host() { return hostsim::ControlSurfaceHost::Instance(); }
  CtrlBridge* Bridge() const {
    auto get = reinterpret_cast<CtrlBridgeGetFn>(session_.Symbol(kCtrlBridgeGetExport));
    return get ? get() : nullptr;
  }
  int32_t Dispatch(int32_t op) const {
    const CtrlDispatchFn fn = Bridge()->dispatch;
    return fn ? fn(op) : -100;
  }
  template <typename Suite>
  const Suite* Published(const char* name, int32_t version) const {
    return static_cast<const Suite*>(
        host().FindPublishedSuite(session_.suiteList(), name, version));
  }

  hostsim::CtrlHostSession session_;
};

}  // namespace Sorvane::test
