#include <gtest/gtest.h>

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
  EXPECT_NE(printed.find("====="), std::string::npos);
  EXPECT_EQ(cancels, 0);
}

}  // namespace
}  // namespace Sorvane
