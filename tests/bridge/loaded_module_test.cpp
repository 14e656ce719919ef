#include <gtest/gtest.h>

#include "bridge/ctrl_bridge.h"
#include "bridge/loaded_module.h"
#include "sv-host/module_loader.h"

namespace Sorvane {
namespace {

TEST(LoadedModule, NeverLoadsAModuleItself) {
  EXPECT_EQ(FindLoadedModuleExport("SorvaneCtrl.acsrf", kCtrlBridgeGetExport), nullptr);
  EXPECT_EQ(FindLoadedModuleExport("no-such-module.dll", "anything"), nullptr);
}

// The peer plug-in caches the pointer for the rest of the process: the module must stay mapped
// after whoever loaded it lets go.
TEST(LoadedModule, FindsByFileNameAndKeepsTheModuleLoaded) {
  std::string error;
  auto module = hostsim::LoadedModule::Open(SV_CTRL_MODULE_PATH, &error);
  ASSERT_NE(module, nullptr) << error;
  void* viaLoader = module->Symbol(kCtrlBridgeGetExport);
  ASSERT_NE(viaLoader, nullptr);

  void* found = FindLoadedModuleExport("SorvaneCtrl.acsrf", kCtrlBridgeGetExport);
  EXPECT_EQ(found, viaLoader);
  EXPECT_EQ(FindLoadedModuleExport("SorvaneCtrl.acsrf", "NoSuchExport"), nullptr);
  EXPECT_EQ(FindLoadedModuleExport("SorvaneCtrl", kCtrlBridgeGetExport), nullptr);

  module.reset();  // the loader unloads its reference
  auto get = reinterpret_cast<CtrlBridgeGetFn>(found);
  const CtrlBridge* bridge = get();
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(bridge->version, kCtrlBridgeVersion);
  EXPECT_EQ(FindLoadedModuleExport("SorvaneCtrl.acsrf", kCtrlBridgeGetExport), found);
}

}  // namespace
}  // namespace Sorvane
