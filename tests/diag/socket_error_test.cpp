#include <gtest/gtest.h>

#include "diag/socket_error.h"

namespace Sorvane {
namespace {

TEST(SocketErrorText, UnknownCodesFallBackToTheNumber) {
  const std::string text = SocketErrorTextFor(987654);
#if defined(_WIN32)
  EXPECT_EQ(text, "WSA error 987654");
#else
  EXPECT_EQ(text, "socket error 987654");
#endif
}

TEST(SocketErrorText, KnownCodesHaveNoTrailingLineBreak) {
#if defined(_WIN32)
  const std::string text = SocketErrorTextFor(5);  // system text ends in CR LF
#else
  const std::string text = SocketErrorTextFor(111);  // ECONNREFUSED
#endif
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  EXPECT_NE(text.back(), ' ');
  EXPECT_EQ(text.find("error 1"), std::string::npos) << text;
}

}  // namespace
}  // namespace Sorvane
