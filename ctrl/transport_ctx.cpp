#include "ctrl/transport_ctx.h"

#include <chrono>

#include "ctrl/ctrl_log.h"
#include "ctrl/host_string.h"

namespace Sorvane::ctrl {
namespace {

using namespace sdk;

constexpr uint32_t kMaxListedCommands = 4096;
constexpr int kUiLockWaitMs = 1000;

template <typename Suite>
bool Acquire(const SPBasicSuite* basic, const char* name, int32_t version, const Suite** out,
             const char* errorFormat) {
  const void* suite = nullptr;
  const SPErr err = basic->AcquireSuite(name, version, &suite);
  if (err != kSPNoError || suite == nullptr) {
    Log(kCtrlChannel, kLogError, errorFormat, err);
    return false;
  }
  *out = static_cast<const Suite*>(suite);
  return true;
}

}  // namespace

TransportCtx::~TransportCtx() {
  if (basic == nullptr)
    return;
  if (transportSuite)
    basic->ReleaseSuite(kControlSurfaceHostTransportSuiteName,
                        kControlSurfaceHostTransportSuiteVersion);
  if (commandSuite)
    basic->ReleaseSuite(kControlSurfaceHostCommandSuiteName,
                        kControlSurfaceHostCommandSuiteVersion);
  if (hostSuite)
    basic->ReleaseSuite(kControlSurfaceHostSuiteName, kControlSurfaceHostSuiteVersion);
}

bool TransportCtx::CanRunActions() const {
  return connected.load() && transportSuite != nullptr && transportRef != nullptr &&
         commandSuite != nullptr && commandRef != nullptr;
}

std::optional<uint8_t> TransportCtx::QueryPlayState() const {
  if (transportSuite == nullptr || transportRef == nullptr)
    return std::nullopt;
  ADOBESDK_Boolean state = 0;
  transportSuite->GetPlayState(transportRef, &state);
  return state;
}

void TransportCtx::Retire() {
  connected.store(false);
  LockOnUiThread("disconnect");
}

std::unique_lock<std::timed_mutex> TransportCtx::LockOnUiThread(const char* what) {
  std::unique_lock<std::timed_mutex> held(lock, std::chrono::milliseconds(kUiLockWaitMs));
  if (!held)
    Log(kCtrlChannel, kLogError,
        "ctrl: %s: the connection stayed busy for %d ms — not waiting longer", what, kUiLockWaitMs);
  return held;
}

bool AcquireHostSuites(TransportCtx& ctx) {
  if (ctx.basic == nullptr)
    return false;
  // Every suite is needed: a missing one would later be called through null.
  if (!Acquire(ctx.basic, kControlSurfaceHostSuiteName, kControlSurfaceHostSuiteVersion,
               &ctx.hostSuite, "ctrl: AcquireSuite(Host V2) err=%d") ||
      !Acquire(ctx.basic, kControlSurfaceHostTransportSuiteName,
               kControlSurfaceHostTransportSuiteVersion, &ctx.transportSuite,
               "ctrl: AcquireSuite(HostTransport) err=%d") ||
      !Acquire(ctx.basic, kControlSurfaceHostCommandSuiteName,
               kControlSurfaceHostCommandSuiteVersion, &ctx.commandSuite,
               "ctrl: AcquireSuite(HostCommand) err=%d"))
    return false;
  Log(kCtrlChannel, kLogInfo,
      "ctrl: calling GetTransportRef hostSuite=%p hostRef=%p GetTransportRef=%p",
      static_cast<const void*>(ctx.hostSuite), static_cast<void*>(ctx.hostRef),
      reinterpret_cast<void*>(ctx.hostSuite->GetTransportRef));
  SPErr err = ctx.hostSuite->GetTransportRef(ctx.hostRef, &ctx.transportRef);
  if (err != kSPNoError || ctx.transportRef == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: GetTransportRef err=%d (0x%08x) transportRef=%p", err,
        static_cast<uint32_t>(err), static_cast<void*>(ctx.transportRef));
    return false;
  }
  err = ctx.hostSuite->GetCommandRef(ctx.hostRef, &ctx.commandRef);
  if (err != kSPNoError || ctx.commandRef == nullptr) {
    Log(kCtrlChannel, kLogError, "ctrl: GetCommandRef err=%d (0x%08x)", err,
        static_cast<uint32_t>(err));
    return false;
  }
  Log(kCtrlChannel, kLogInfo, "ctrl: acquired all host suites (transport=%p command=%p)",
      static_cast<void*>(ctx.transportRef), static_cast<void*>(ctx.commandRef));
  return true;
}

void LogHostCommands(const TransportCtx& ctx) {
  uint32_t count = 0;
  const SPErr err = ctx.commandSuite->GetCommandCount(ctx.commandRef, &count);
  if (err != kSPNoError) {
    Log(kCtrlChannel, kLogError, "ctrl: GetCommandCount err=%d", err);
    return;
  }
  Log(kCtrlChannel, kLogInfo, "ctrl: command count = %u", count);
  for (uint32_t i = 0; i < count && i < kMaxListedCommands; ++i) {
    HostString contextId(ctx.stringSuite), contextName(ctx.stringSuite), id(ctx.stringSuite),
        name(ctx.stringSuite);
    const SPErr e = ctx.commandSuite->GetCommand(ctx.commandRef, i, contextId.Out(),
                                                 contextName.Out(), id.Out(), name.Out());
    if (e != kSPNoError) {
      Log(kCtrlChannel, kLogError, "ctrl: GetCommand[%u] err=%d", i, e);
      continue;
    }
    Log(kCtrlChannel, kLogInfo, "ctrl: cmd[%u] ctx=%s id=%s name=%s", i, contextId.ToUtf8().c_str(),
        id.ToUtf8().c_str(), name.ToUtf8().c_str());
  }
}

}  // namespace Sorvane::ctrl
