#include "ui/pairing_dialog.h"

namespace Sorvane {

std::string PairingHeaderText(const std::string& deviceName) {
  return "Enter this code on " + (deviceName.empty() ? std::string("iPhone") : deviceName) + ":";
}

std::string SpacedCode(const std::string& code) {
  std::string spaced;
  for (size_t i = 0; i < code.size(); ++i) {
    if (i > 0)
      spaced.push_back(' ');
    spaced.push_back(code[i]);
  }
  return spaced;
}

}  // namespace Sorvane
