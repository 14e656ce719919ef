#include <gtest/gtest.h>

#include <cstdlib>

#include "store/app_paths.h"

namespace Sorvane {
namespace {

// The Windows shell answers with the user's real roaming folder whatever APPDATA says, so this
// program's state files follow APPDATA (the test main's temporary profile) by hand there. On
// Linux APPDATA already decides, and the tests exercise that rule itself.
class StoreProfile : public ::testing::Environment {
 public:
  void SetUp() override {
#if defined(_WIN32)
    const char* appData = std::getenv("APPDATA");
    ASSERT_TRUE(appData != nullptr && *appData != '\0');
    pathsdetail::OverrideRoamingDir(appData);
#endif
  }
};

[[maybe_unused]] ::testing::Environment* const gStoreProfile =
    ::testing::AddGlobalTestEnvironment(new StoreProfile);

}  // namespace
}  // namespace Sorvane
