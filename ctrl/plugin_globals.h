#pragma once
#include <atomic>
#include <cstdint>

#include "sdk/control_surface_string.h"
#include "sdk/sp_suites.h"

namespace Sorvane::ctrl {

// Process-wide state set by EntryPoint and Startup on the host's UI thread.
struct PluginGlobals {
  std::atomic<const sdk::SPBasicSuite*> basic{nullptr};
  std::atomic<uint32_t> hostId{0};
  std::atomic<const sdk::ADOBESDK_StringSuite1*> stringSuite{nullptr};
  const sdk::SPSuitesSuite* suitesSuite = nullptr;  // owned by the UI thread
  sdk::SPSuiteListRef suiteList = nullptr;          // owned by the UI thread
};

PluginGlobals& Globals();

}  // namespace Sorvane::ctrl
