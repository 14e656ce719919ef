#pragma once
#include <memory>

#include "sdk/control_surface_plugin.h"

namespace Sorvane::ctrl {

struct TransportCtx;

// One host plug-in instance: its surface object (from the first Connect) and its connection.
struct PluginInstance {
  sdk::ControlSurfaceRef surface = nullptr;
  std::shared_ptr<TransportCtx> ctx;
};

// Both run on the host's UI thread.
sdk::ControlSurfaceRef Connect(PluginInstance& instance, sdk::ControlSurfaceHostRef hostRef);
void Disconnect(PluginInstance& instance);

// The "ADOBESDK ControlSurfacePlugin Suite" table.
const sdk::ADOBESDK_ControlSurfacePluginSuite1* PluginSuite();

}  // namespace Sorvane::ctrl
