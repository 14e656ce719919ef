#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "support/temp_profile.h"

namespace Sorvane::test {
bool CreateProfileRoot();
}

// Every test program runs in a fresh profile: APPDATA, LOCALAPPDATA and the XDG folders point into
// a new temporary folder, removed at the end unless SV_KEEP_TEST_PROFILE is set.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  const bool ownsProfile = Sorvane::test::CreateProfileRoot();
  // Tests never advertise on a real network: the transport's advertiser finds no system bus.
  Sorvane::test::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/sorvane-test-bus");
  const int result = RUN_ALL_TESTS();
  if (ownsProfile && std::getenv("SV_KEEP_TEST_PROFILE") == nullptr) {
    std::error_code ec;
    std::filesystem::remove_all(Sorvane::test::ProfileRoot(), ec);
  }
  return result;
}
