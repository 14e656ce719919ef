#include <cstdio>
#include <string>

#include "ui/pairing_dialog.h"

namespace Sorvane {
namespace {

// Linux hosts have no window for the plug-in: the code goes to the host process's standard
// error as a framed block. Nothing is drawn, so there is nothing to remove and no way for the
// user to cancel.
class ConsolePairingDialog final : public IPairingDialog {
 public:
  void Show(std::string code, std::string deviceName, std::function<void()>) override {
    const std::string line = PairingHeaderText(deviceName) + " " + SpacedCode(code);
    const std::string rule(line.size() + 4, '=');
    std::fprintf(stderr, "\n%s\n| %s |\n%s\n\n", rule.c_str(), line.c_str(), rule.c_str());
    std::fflush(stderr);
  }
  void Close() override {}
};

}  // namespace

std::unique_ptr<IPairingDialog> CreatePairingDialog() {
  return std::make_unique<ConsolePairingDialog>();
}

}  // namespace Sorvane
