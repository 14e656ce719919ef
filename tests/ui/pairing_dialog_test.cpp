#include <gtest/gtest.h>

#include "ui/pairing_dialog.h"

namespace Sorvane {
namespace {

TEST(PairingDialogText, HeaderAndSpacedCode) {
  EXPECT_EQ(PairingHeaderText(""), "Enter this code on iPhone:");
  EXPECT_EQ(PairingHeaderText("Ana's phone"), "Enter this code on Ana's phone:");
  EXPECT_EQ(SpacedCode("012345"), "0 1 2 3 4 5");
  EXPECT_EQ(SpacedCode("012345").size(), 11u);
  EXPECT_EQ(SpacedCode(""), "");
}

}  // namespace
}  // namespace Sorvane
