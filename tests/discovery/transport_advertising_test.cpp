#include <gtest/gtest.h>

#include "diag/log.h"
#include "net/network_transport.h"
#include "store/install_identity.h"
#include "support/plugin_log.h"
#include "support/temp_profile.h"
#include "transport/test_client.h"

namespace Sorvane {
namespace {

using test::TestLog;

// Here no advertisement can succeed (no system bus for Avahi; Wine's dnsapi.dll has no DNS-SD
// service functions): the transport says so once and serves clients all the same.
TEST(TransportAdvertising, AFailedAdvertisementLeavesTheTransportServing) {
  for (const bool discoverable : {true, false}) {
    installid::SetDiscoverable(discoverable);
    const size_t before = TestLog().size();
    NetworkTransport::Options options;
    options.videoPort = 47691;
    options.audioPort = 47692;
    NetworkTransport transport(options);
    transport.SetActivityQuery([] { return false; });
    transport.StartListening(47690);
    test::TestClient client(47690);
    EXPECT_TRUE(client.connected());
    transport.Stop();
    const std::string added = TestLog().substr(before);
    const bool disabledLine =
        added.find("ServiceAdvertiser::Start failed — Bonjour discovery disabled") !=
        std::string::npos;
    EXPECT_EQ(disabledLine, discoverable) << added;
    EXPECT_EQ(added.find("discoverable=false — skipping mDNS advertisement") != std::string::npos,
              !discoverable);
    EXPECT_EQ(added.find("advertising stopped"), std::string::npos);
  }
}

}  // namespace
}  // namespace Sorvane
