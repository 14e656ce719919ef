#include <gtest/gtest.h>

#include <new>
#include <string>

#include "ctrl/plugin_globals.h"
#include "ctrl/plugin_instance.h"
#include "diag/log.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane::ctrl {
namespace {

// A host whose suites cannot be handed out: the allocation behind them fails.
sdk::SPErr AcquireFails(const char*, int32_t, const void**) {
  throw std::bad_alloc();
}
sdk::SPErr ReleaseNothing(const char*, int32_t) {
  return sdk::kSPNoError;
}

int LogLines(const std::string& needle) {
  const std::string log = test::TestLog();
  int n = 0;
  for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
    ++n;
  return n;
}

// No exception reaches the host: it gets the SDK's out-of-memory answer, the log one line, and
// the plug-in keeps serving (here: it still disconnects cleanly).
TEST(CtrlEntryGuard, AConnectThatThrowsAnswersOutOfMemoryOnceLogged) {
  const sdk::SPBasicSuite basic{AcquireFails, ReleaseNothing, nullptr, nullptr,
                                nullptr,      nullptr,        nullptr};
  Globals().basic.store(&basic);
  PluginInstance instance;
  auto* plugin = reinterpret_cast<sdk::ControlSurfacePluginRef>(&instance);
  sdk::ControlSurfaceRef surface = nullptr;
  EXPECT_EQ(PluginSuite()->Connect(plugin, nullptr, &surface), sdk::kSPOutOfMemoryError);
  EXPECT_EQ(PluginSuite()->Connect(plugin, nullptr, &surface), sdk::kSPOutOfMemoryError);
  EXPECT_EQ(LogLines(":ctrl:FAULT] Connect: exception stopped at the entry (std::bad_alloc)"), 1);
  EXPECT_EQ(PluginSuite()->Disconnect(plugin), sdk::kSPNoError);
  EXPECT_EQ(instance.surface, nullptr);
  Globals().basic.store(nullptr);
}

}  // namespace
}  // namespace Sorvane::ctrl
