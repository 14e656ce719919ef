#pragma once
// The fake control-surface host's suite tables (ctrl_host_suites.cpp).
#include <string>

#include "sdk/control_surface_host.h"
#include "sdk/control_surface_string.h"
#include "sdk/sp_suites.h"

namespace Sorvane::hostsim {

extern const sdk::ADOBESDK_StringSuite1 kHostStringSuite;
extern const sdk::SPSuitesSuite kHostSuitesSuite;
extern const sdk::ADOBESDK_ControlSurfaceHostSuite2 kHostSuite;
extern const sdk::ADOBESDK_ControlSurfaceHostTransportSuite1 kHostTransportSuite;
extern const sdk::ADOBESDK_ControlSurfaceHostCommandSuite1 kHostCommandSuite;

const void* FindInSuiteList(sdk::SPSuiteListRef list, const std::string& name, int32_t version);

}  // namespace Sorvane::hostsim
