#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "diag/signal_safe_text.h"

namespace Sorvane {
namespace {

TEST(SignalSafeText, NumbersPaddedAndCutOffAtCapacity) {
  char buffer[64];
  SignalSafeText text(buffer, sizeof buffer);
  text.Decimal(0).Append(" ").Decimal(7, 3).Append(" ").Decimal(18446744073709551615ull);
  text.Append(" ").Hex(11, 8, true).Append(" ").Hex(0xdeadbeef).Append(" ").Hex(0);
  EXPECT_EQ(std::string(text.data(), text.size()),
            "0 007 18446744073709551615 0000000B deadbeef 0");

  char small[6];
  SignalSafeText cut(small, sizeof small);
  cut.Append("abc").Decimal(12345);
  EXPECT_EQ(std::string(cut.data()), "abc12") << "cut off, still terminated";
  EXPECT_EQ(cut.size(), 5u);
}

// The handler cannot call the C library's time conversion; its own must agree with it.
TEST(SignalSafeText, CivilTimeAgreesWithTheLibrary) {
  // Epoch, day edges, leap days (2000-02-29, 2024-02-29), the 32-bit edge, 2100 (no leap day),
  // the year 2999.
  const int64_t samples[] = {0,          59,         86399,      86400,      951782400,  951868800,
                             1709164800, 2147483647, 4107542399, 4107456000, 32503679999};
  for (int64_t seconds : samples) {
    const time_t t = static_cast<time_t>(seconds);
    tm expected{};
#if defined(_WIN32)
    gmtime_s(&expected, &t);
#else
    gmtime_r(&t, &expected);
#endif
    const CivilTime actual = CivilTimeOf(seconds);
    SCOPED_TRACE(seconds);
    EXPECT_EQ(actual.year, expected.tm_year + 1900);
    EXPECT_EQ(actual.month, static_cast<unsigned>(expected.tm_mon + 1));
    EXPECT_EQ(actual.day, static_cast<unsigned>(expected.tm_mday));
    EXPECT_EQ(actual.hour, static_cast<unsigned>(expected.tm_hour));
    EXPECT_EQ(actual.minute, static_cast<unsigned>(expected.tm_min));
    EXPECT_EQ(actual.second, static_cast<unsigned>(expected.tm_sec));
  }
}

}  // namespace
}  // namespace Sorvane
