#include <gtest/gtest.h>

#include "encoder/repeating_line.h"
#include "support/manual_clock.h"

namespace Sorvane {
namespace {

TEST(RepeatingLine, AtMostOnceASecondWithHowManyWereLeftOut) {
  test::ManualClock clock;
  RepeatingLine line(clock);
  std::string note = "stale";
  ASSERT_TRUE(line.Due(&note));
  EXPECT_EQ(note, "") << "nothing left out before the first";
  for (int i = 0; i < 29; ++i) {
    clock.Advance(33'000'000);
    EXPECT_FALSE(line.Due(&note));
  }
  clock.Advance(43'000'000);  // one second after the first
  ASSERT_TRUE(line.Due(&note));
  EXPECT_EQ(note, " (29 more since the last one)");
  clock.Advance(5'000'000'000);
  ASSERT_TRUE(line.Due(&note));
  EXPECT_EQ(note, "");
}

}  // namespace
}  // namespace Sorvane
