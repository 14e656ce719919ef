#include <gtest/gtest.h>

#include <algorithm>

#include "ui/pairing_dialog.h"

namespace Sorvane {
namespace {

TEST(ConsolePairingDialog, PrintsAFramedCodeAndNeverCancels) {
  auto dialog = CreatePairingDialog();
  ASSERT_NE(dialog, nullptr);
  int cancels = 0;
  testing::internal::CaptureStderr();
  dialog->Show("123456", "Zoë's phone", [&] { ++cancels; });
  dialog->Close();
  dialog.reset();
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("| Enter this code on Zoë's phone: 1 2 3 4 5 6 |"), std::string::npos)
      << printed;
  // The frame is as wide as the text on screen: "Zoë" is three columns in four bytes.
  const std::string line = "| Enter this code on Zoë's phone: 1 2 3 4 5 6 |";
  EXPECT_NE(printed.find("\n" + std::string(line.size() - 1, '=') + "\n"), std::string::npos)
      << printed;
  EXPECT_EQ(cancels, 0);
}

TEST(ConsolePairingDialog, ANameCannotWriteControlBytesToTheTerminal) {
  auto dialog = CreatePairingDialog();
  testing::internal::CaptureStderr();
  dialog->Show("000111", "evil\n| Enter this code on x: 9 9 9\x1b[2J", nullptr);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed.find('\x1b'), std::string::npos);
  EXPECT_NE(
      printed.find("| Enter this code on evil?| Enter this code on x: 9 9 9?[2J: 0 0 0 1 1 1 |"),
      std::string::npos)
      << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 5);  // blank, rule, text, rule, blank
}

}  // namespace
}  // namespace Sorvane
