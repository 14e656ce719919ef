#include "ctrl/plugin_instance.h"

#include "bridge/loaded_module.h"
#include "ctrl/bridge_dispatch.h"
#include "ctrl/control_surface.h"
#include "ctrl/ctrl_entry_guard.h"
#include "ctrl/ctrl_log.h"
#include "ctrl/host_string.h"
#include "ctrl/play_state_poll.h"
#include "ctrl/plugin_globals.h"
#include "ctrl/transport_ctx.h"
#include "ctrl/ui_dispatcher.h"

namespace Sorvane::ctrl {
namespace {

using namespace sdk;

// Stops an instance's connection: clears the bridge only when this connection owns it, and
// waits for an action in flight so that none runs after this returns.
void RetireContext(PluginInstance& instance) {
  if (!instance.ctx)
    return;
  ClearCurrentContextIf(instance.ctx.get());
  instance.ctx->Retire();
}

std::shared_ptr<TransportCtx> NewConnection(ControlSurfaceHostRef hostRef) {
  auto ctx = std::make_shared<TransportCtx>(Globals().basic.load());
  ctx->hostRef = hostRef;
  ctx->stringSuite = Globals().stringSuite.load();
  if (!AcquireHostSuites(*ctx)) {
    Log(kCtrlChannel, kLogError, "ctrl: Connect: suite acquisition failed — staying dormant");
    return nullptr;
  }
  ctx->connected.store(true);
  LogHostCommands(*ctx);
  MakeCurrentContext(ctx);
  StartPlayStatePoll(ctx);
  return ctx;
}

PluginInstance* Instance(ControlSurfacePluginRef ref) {
  return reinterpret_cast<PluginInstance*>(ref);
}

SPErr MakeString(const char16_t* text, ADOBESDK_String* out) {
  const ADOBESDK_StringSuite1* suite = Globals().stringSuite.load();
  if (suite == nullptr || out == nullptr)
    return kSPBadParameterError;
  return suite->AllocateFromUTF16(reinterpret_cast<const ADOBESDK_UTF16Char*>(text), out);
}

const ADOBESDK_ControlSurfacePluginSuite1 kPluginSuite = {
    [](ControlSurfacePluginRef p, ControlSurfaceHostRef host, ControlSurfaceRef* out) -> SPErr {
      if (p == nullptr || out == nullptr)
        return kSPBadParameterError;
      return RunGuarded<CtrlEntryFailure>("Connect", [&] {
        *out = Connect(*Instance(p), host);
        return kSPNoError;
      });
    },
    [](ControlSurfacePluginRef p) -> SPErr {
      if (p == nullptr)
        return kSPBadParameterError;
      return RunGuarded<CtrlEntryFailure>("Disconnect", [&] {
        Disconnect(*Instance(p));
        return kSPNoError;
      });
    },
    [](ControlSurfacePluginRef, ADOBESDK_String* out) {
      return MakeString(u"com.sorvane.controlsurface", out);
    },
    [](ControlSurfacePluginRef, ADOBESDK_String* out) { return MakeString(u"Sorvane", out); },
    [](ControlSurfacePluginRef, ADOBESDK_String*) { return kSPUnimplementedError; },
    [](ControlSurfacePluginRef, const ADOBESDK_String*) { return kSPUnimplementedError; },
    [](ControlSurfacePluginRef, ADOBESDK_Boolean* hasDialog) {
      if (hasDialog != nullptr)
        *hasDialog = 0;  // one byte: the host's variable is one byte wide
      return kSPNoError;
    },
    [](ControlSurfacePluginRef, void*, ADOBESDK_Boolean* changed) {
      if (changed != nullptr)
        *changed = 0;
      return kSPUnimplementedError;
    },
    [](ControlSurfacePluginRef) {
      Log(kCtrlChannel, kLogInfo, "ctrl: Suspend");
      return kSPNoError;
    },
    [](ControlSurfacePluginRef) {
      Log(kCtrlChannel, kLogInfo, "ctrl: Resume");
      return kSPNoError;
    },
};

}  // namespace

ControlSurfaceRef Connect(PluginInstance& instance, ControlSurfaceHostRef hostRef) {
  if (instance.surface == nullptr)
    instance.surface = NewControlSurface();
  // The dispatcher's window and the worker threads run this module's code after Disconnect and
  // Shutdown have returned: the module stays mapped whatever the host unloads.
  if (!PinThisModule())
    Log(kCtrlChannel, kLogError, "ctrl: could not pin the module: an unload would end the host");
  InstallUiDispatcher();
  RetireContext(instance);  // a second Connect replaces the connection
  instance.ctx = NewConnection(hostRef);
  Log(kCtrlChannel, kLogInfo, "ctrl: Connect → surface=%p hostRef=%p",
      static_cast<void*>(instance.surface), static_cast<void*>(hostRef));
  return instance.surface;
}

void Disconnect(PluginInstance& instance) {
  if (instance.ctx) {
    RetireContext(instance);
    instance.ctx.reset();  // the suites go with the last reference, maybe a worker's
    Log(kCtrlChannel, kLogInfo, "ctrl: Disconnect: released host suites + bridge");
  }
  // The dispatcher serves whichever connection is current; keep it while another one is.
  if (!HasCurrentContext())
    TearDownUiDispatcher();
  if (instance.surface != nullptr) {
    DeleteControlSurface(instance.surface);
    instance.surface = nullptr;
  }
}

const ADOBESDK_ControlSurfacePluginSuite1* PluginSuite() {
  return &kPluginSuite;
}

}  // namespace Sorvane::ctrl
