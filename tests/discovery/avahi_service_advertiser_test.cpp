#include <gtest/gtest.h>

#include "diag/log.h"
#include "discovery/avahi_service_advertiser.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"

namespace Sorvane {
namespace {

size_t CountMdnsErrors() {
  const std::string log = test::TestLog();
  size_t n = 0;
  size_t lineStart = 0;
  while (lineStart < log.size()) {
    size_t end = log.find('\n', lineStart);
    if (end == std::string::npos)
      end = log.size();
    const std::string line = log.substr(lineStart, end - lineStart);
    n +=
        (line.find("mdns") != std::string::npos && line.find("ERROR") != std::string::npos) ? 1 : 0;
    lineStart = end + 1;
  }
  return n;
}

// Without a reachable daemon (here: no system bus at all) Start fails at once with one clear line,
// and the advertiser can be stopped and destroyed as usual.
TEST(AvahiServiceAdvertiser, NoDaemonFailsWithOneLine) {
  test::SetEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/sorvane-test-bus");
  const size_t before = CountMdnsErrors();
  {
    AvahiServiceAdvertiser advertiser;
    EXPECT_FALSE(advertiser.Start(47130, {"id-x", "Studio", false}));
    EXPECT_FALSE(advertiser.IsRegistered());
    advertiser.Stop();
    advertiser.Stop();
  }
  EXPECT_EQ(CountMdnsErrors(), before + 1);
}

}  // namespace
}  // namespace Sorvane
