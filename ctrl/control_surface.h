#pragma once
#include "sdk/control_surface_plugin.h"

namespace Sorvane::ctrl {

// The surface object handed to the host at Connect (its ControlSurfaceBase part).
sdk::ControlSurfaceRef NewControlSurface();
void DeleteControlSurface(sdk::ControlSurfaceRef surface);

// Adds the ControlSurface (versions 1 and 2), Transport and Command suites to the list.
void AddSurfaceSuites(const sdk::SPSuitesSuite* suites, sdk::SPSuiteListRef list);

}  // namespace Sorvane::ctrl
