#pragma once
#include <cstdint>
#include <memory>

#include "bridge/ctrl_bridge.h"

namespace Sorvane::ctrl {

struct TransportCtx;

// The process's bridge record, handed out by sv_ctrl_bridge_get.
CtrlBridge* BridgeRecord();

// Makes `ctx` the context the bridge acts on and installs the dispatch.
void MakeCurrentContext(std::shared_ptr<TransportCtx> ctx);
// Clears the dispatch and the current context when it is `ctx`; false when another one is current.
bool ClearCurrentContextIf(const TransportCtx* ctx);
bool HasCurrentContext();
// Clears the dispatch and the current context, whichever it is, and waits for its action in
// flight (Shutdown without Disconnect).
void RetireCurrentContext();

// Runs a transport action in the host: 0 done, −1 not connected or unknown, −2 host error.
int32_t BridgeDispatchImpl(int32_t op);

}  // namespace Sorvane::ctrl
