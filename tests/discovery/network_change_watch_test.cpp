#include <gtest/gtest.h>

#include "discovery/network_change_watch.h"

namespace Sorvane {
namespace {

// The system's notification is really asked for and given back: Stop returns (no callback left
// running) and may be repeated; a watch never started stops just as well. Real changes are the
// end-to-end test's, which owns a network to change.
TEST(NetworkChangeWatch, StartsAndStopsCleanly) {
  int changes = 0;
  NetworkChangeWatch watch([&changes] { ++changes; });
  EXPECT_TRUE(watch.Start());
  EXPECT_TRUE(watch.Start()) << "already watching";
  watch.Stop();
  watch.Stop();
  EXPECT_TRUE(watch.Start()) << "again after a stop";
  NetworkChangeWatch idle([] {});
  idle.Stop();
}

}  // namespace
}  // namespace Sorvane
