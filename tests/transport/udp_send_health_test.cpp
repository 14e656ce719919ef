#include <gtest/gtest.h>

#include "net/socket_ops.h"
#include "net/udp_send_health.h"
#include "support/manual_clock.h"
#include "support/plugin_log.h"

namespace Sorvane {
namespace {

using test::Count;
using test::TestLog;

constexpr int kError = -1;

// A full kernel buffer drops the datagram and nothing more: asking for a keyframe, bigger than
// what was dropped, would only make it worse.
TEST(UdpSendHealth, OnlyRealErrorsCountTowardsTheKeyframeRequest) {
  test::ManualClock clock;
  UdpSendHealth health(clock);
  for (int i = 0; i < 20; ++i)
    EXPECT_FALSE(health.Record(net::kSendWouldBlock, 47101));
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(health.Record(kError, 47101));
  EXPECT_FALSE(health.Record(net::kSendWouldBlock, 47101)) << "neither counts nor re-arms";
  EXPECT_TRUE(health.Record(kError, 47101)) << "the fifth error in a row";
  EXPECT_FALSE(health.Record(kError, 47101));
  EXPECT_FALSE(health.Record(1466, 47101));
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(health.Record(kError, 47101));
  EXPECT_TRUE(health.Record(kError, 47101)) << "a success re-armed it";
  EXPECT_EQ(Count(TestLog(), "sendto port=47101 failed"), 1u) << "one line a second";
  clock.Advance(1'000'000'000);
  health.Record(kError, 47101);
  EXPECT_EQ(Count(TestLog(), "sendto port=47101 failed"), 2u);
  EXPECT_NE(TestLog().find("(10 more failures since)"), std::string::npos);
}

}  // namespace
}  // namespace Sorvane
