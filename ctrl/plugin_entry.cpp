// The control-surface plug-in's host entry and its bridge export.
#include "base/version.h"
#include "ctrl/bridge_dispatch.h"
#include "ctrl/control_surface.h"
#include "ctrl/ctrl_entry_guard.h"
#include "ctrl/ctrl_log.h"
#include "ctrl/plugin_globals.h"
#include "ctrl/plugin_instance.h"
#include "ctrl/ui_dispatcher.h"
#include "ctrl/worker_threads.h"
#include "sdk/export.h"

namespace Sorvane::ctrl {
namespace {

using namespace sdk;

SPErr Failed(SPErr err) {
  return err != kSPNoError ? err : kSPSuiteNotFoundError;
}

// Gives back what Startup acquired, in reverse order; also what a failed Startup leaves.
void ReleaseStartupSuites() {
  PluginGlobals& g = Globals();
  if (g.suitesSuite != nullptr && g.suiteList != nullptr)
    g.suitesSuite->FreeSuiteList(g.suiteList);
  g.suiteList = nullptr;
  const SPBasicSuite* basic = g.basic.load();
  if (g.suitesSuite != nullptr && basic != nullptr)
    basic->ReleaseSuite(kSPSuitesSuiteName, kSPSuitesSuiteVersion);
  g.suitesSuite = nullptr;
  if (g.stringSuite.exchange(nullptr) != nullptr && basic != nullptr)
    basic->ReleaseSuite(kStringSuiteName, kStringSuiteVersion);
}

SPErr AcquireStartupSuites(const SPBasicSuite* basic) {
  PluginGlobals& g = Globals();
  const void* suite = nullptr;
  SPErr err = basic->AcquireSuite(kStringSuiteName, kStringSuiteVersion, &suite);
  if (err != kSPNoError || suite == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: Startup: AcquireSuite(String) err=%d", err);
    return Failed(err);
  }
  g.stringSuite.store(static_cast<const ADOBESDK_StringSuite1*>(suite));
  suite = nullptr;
  err = basic->AcquireSuite(kSPSuitesSuiteName, kSPSuitesSuiteVersion, &suite);
  if (err != kSPNoError || suite == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: Startup: AcquireSuite(SPSuites) err=%d", err);
    return Failed(err);
  }
  g.suitesSuite = static_cast<const SPSuitesSuite*>(suite);
  err = g.suitesSuite->AllocateSuiteList(nullptr, nullptr, &g.suiteList);
  if (err != kSPNoError || g.suiteList == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: Startup: AllocateSuiteList err=%d", err);
    return Failed(err);
  }
  err = g.suitesSuite->AddSuite(g.suiteList, nullptr, kControlSurfacePluginSuiteName, 1, 1,
                                PluginSuite(), nullptr);
  if (err != kSPNoError) {
    Log(kCtrlChannel, kLogError, "ctrl: Startup: AddSuite(PluginSuite) err=%d", err);
    return err;
  }
  AddSurfaceSuites(g.suitesSuite, g.suiteList);
  return kSPNoError;
}

SPErr Startup() {
  Log(kCtrlChannel, kLogInfo, "ctrl: Startup begin — SorvaneCtrl %s", kVersion);
  const SPBasicSuite* basic = Globals().basic.load();
  if (basic == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: Startup: sSPBasicSuite not set");
    return kSPBadParameterError;
  }
  const SPErr err = AcquireStartupSuites(basic);
  if (err != kSPNoError) {
    ReleaseStartupSuites();  // a host may unload a module whose Startup failed
    return err;
  }
  Log(kCtrlChannel, kLogInfo, "ctrl: Startup ok (host=%u)", Globals().hostId.load());
  return kSPNoError;
}

SPErr Shutdown() {
  Log(kCtrlChannel, kLogInfo, "ctrl: Shutdown");
  // A host may shut down without disconnecting: the bridge must not outlive the suites it uses.
  RetireCurrentContext();
  // Our threads must be gone before the host may unload the module.
  StopAndJoinWorkers();
  TearDownUiDispatcher();
  ReleaseStartupSuites();
  return kSPNoError;
}

SPErr CreatePluginInstance(ControlSurfacePluginRef* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  auto* instance = new PluginInstance;
  *out = reinterpret_cast<ControlSurfacePluginRef>(instance);
  Log(kCtrlChannel, kLogInfo, "ctrl: CreatePluginInstance → %p", static_cast<void*>(instance));
  return kSPNoError;
}

SPErr DeletePluginInstance(ControlSurfacePluginRef ref) {
  if (ref == nullptr)
    return kSPBadParameterError;
  Log(kCtrlChannel, kLogInfo, "ctrl: DeletePluginInstance %p", static_cast<void*>(ref));
  auto* instance = reinterpret_cast<PluginInstance*>(ref);
  Disconnect(*instance);
  delete instance;
  return kSPNoError;
}

SPErr GetSuiteList(SPSuiteListRef* out) {
  if (out == nullptr)
    return kSPBadParameterError;
  *out = Globals().suiteList;
  return kSPNoError;
}

}  // namespace
}  // namespace Sorvane::ctrl

extern "C" SV_EXPORT Sorvane::sdk::SPErr EntryPoint(
    Sorvane::sdk::SPBasicSuite* basic, uint32_t majorVersion, uint32_t minorVersion,
    Sorvane::sdk::ADOBESDK_ControlSurfaceHostID hostId,
    Sorvane::sdk::ADOBESDK_ControlSurfacePluginFuncs* outFuncs) {
  using namespace Sorvane::ctrl;
  Globals().hostId.store(hostId);
  Globals().basic.store(basic);
  Sorvane::Log(kCtrlChannel, Sorvane::kLogInfo, "ctrl: EntryPoint v=%u.%u host=%u sp=%p",
               majorVersion, minorVersion, hostId, static_cast<void*>(basic));
  if (basic == nullptr)
    return Sorvane::sdk::kSPBadParameterError;
  if (outFuncs != nullptr) {
    *outFuncs = {CtrlGuarded<"Startup", Startup>, CtrlGuarded<"Shutdown", Shutdown>,
                 CtrlGuarded<"CreatePluginInstance", CreatePluginInstance>,
                 CtrlGuarded<"DeletePluginInstance", DeletePluginInstance>,
                 CtrlGuarded<"GetSuiteList", GetSuiteList>};
  }
  return Sorvane::sdk::kSPNoError;
}

extern "C" SV_EXPORT Sorvane::CtrlBridge* sv_ctrl_bridge_get() {
  return Sorvane::ctrl::BridgeRecord();
}
