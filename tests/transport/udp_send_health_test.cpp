#include <gtest/gtest.h>

#include "net/socket_ops.h"
#include "net/udp_send_health.h"
#include "support/manual_clock.h"

namespace Sorvane {
namespace {

constexpr int kError = -1;

// A full kernel buffer drops the datagram and nothing more: asking for a keyframe, bigger than
// what was dropped, would only make it worse. (Five real errors asking once, a success re-arming
// and the once-a-second line are shown through the transport.)
TEST(UdpSendHealth, AFullKernelBufferNeitherCountsNorRearmsTheKeyframeRequest) {
  test::ManualClock clock;
  UdpSendHealth health(clock);
  for (int i = 0; i < 20; ++i)
    EXPECT_FALSE(health.Record(net::kSendWouldBlock, 47101));
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(health.Record(kError, 47101));
  EXPECT_FALSE(health.Record(net::kSendWouldBlock, 47101));
  EXPECT_TRUE(health.Record(kError, 47101)) << "still the fifth error in a row";
}

}  // namespace
}  // namespace Sorvane
