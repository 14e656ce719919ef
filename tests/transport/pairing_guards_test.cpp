#include <gtest/gtest.h>

#include "diag/log_text.h"
#include "net/pairing_throttle.h"
#include "net/token_compare.h"
#include "support/manual_clock.h"

namespace Sorvane {
namespace {

constexpr int64_t kSecond = 1'000'000'000;

TEST(PairingThrottle, FiveWrongCodesLockThenDoubleUpToAnHour) {
  test::ManualClock clock;
  PairingThrottle throttle(clock);
  for (int i = 0; i < 4; ++i)
    throttle.RecordWrongCode();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 0) << "four wrong codes are still free";
  throttle.RecordWrongCode();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 30 * kSecond);
  clock.Advance(30 * kSecond);
  EXPECT_EQ(throttle.RemainingLockoutNs(), 0);
  throttle.RecordWrongCode();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 60 * kSecond);
  for (int i = 0; i < 20; ++i)
    throttle.RecordWrongCode();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 3600 * kSecond) << "capped at one hour";
  throttle.RecordSuccess();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 0);
  EXPECT_EQ(throttle.ConsecutiveWrongCodes(), 0u);
  throttle.RecordWrongCode();
  EXPECT_EQ(throttle.RemainingLockoutNs(), 0) << "a success starts the count over";
}

TEST(TokenCompare, EqualOnlyForIdenticalBytes) {
  EXPECT_TRUE(TokensEqual("abc123", "abc123"));
  EXPECT_FALSE(TokensEqual("abc123", "abc124"));
  EXPECT_FALSE(TokensEqual("abc123", "abc12"));
  EXPECT_FALSE(TokensEqual("", "a"));
  EXPECT_TRUE(TokensEqual("", ""));
  EXPECT_FALSE(TokensEqual(std::string("a\0b", 3), std::string("a\0c", 3)));
}

TEST(LogSafeText, ControlBytesCannotForgeLines) {
  EXPECT_EQ(LogSafeText("Ana's phone"), "Ana's phone");
  EXPECT_EQ(LogSafeText("x\n[2025-01-01 00:00:00.000 fake:INFO] y"),
            "x\\x0a[2025-01-01 00:00:00.000 fake:INFO] y");
  EXPECT_EQ(LogSafeText(std::string("a\0b\r\x7f", 5)), "a\\x00b\\x0d\\x7f");
  EXPECT_EQ(LogSafeText("back\\slash"), "back\\x5cslash") << "escapes stay unambiguous";
  EXPECT_EQ(LogSafeText("Zoë"), "Zoë") << "UTF-8 passes unchanged";
}

}  // namespace
}  // namespace Sorvane
