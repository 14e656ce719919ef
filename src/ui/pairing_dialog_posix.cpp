#include <cstdio>
#include <string>

#include "ui/pairing_dialog.h"

namespace Sorvane {
namespace {

// The name comes from the phone: no control byte of it may reach the terminal (escape sequences,
// forged lines).
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f)
      c = '?';
  }
  return out;
}

// Columns on a terminal: UTF-8 continuation bytes take none.
size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (char c : text)
    columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

// Linux hosts have no window for the plug-in: the code goes to the host process's standard
// error as a framed block. Nothing is drawn, so there is nothing to remove and no way for the
// user to cancel.
class ConsolePairingDialog final : public IPairingDialog {
 public:
  void Show(std::string code, std::string deviceName, std::function<void()>) override {
    const std::string line = PairingHeaderText(Printable(deviceName)) + " " + SpacedCode(code);
    const std::string rule(Columns(line) + 4, '=');
    std::fprintf(stderr, "\n%s\n| %s |\n%s\n\n", rule.c_str(), line.c_str(), rule.c_str());
    std::fflush(stderr);
  }
  void Close() override {}
};

}  // namespace

std::unique_ptr<IPairingDialog> CreatePairingDialog() {
  return std::make_unique<ConsolePairingDialog>();
}

void CloseOpenPairingDialogs() {}  // nothing stays on screen

}  // namespace Sorvane
