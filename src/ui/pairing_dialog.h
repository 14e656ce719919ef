#pragma once
#include <functional>
#include <memory>
#include <string>

namespace Sorvane {

// Shows the six-digit pairing code to the user while a phone pairs.
class IPairingDialog {
 public:
  virtual ~IPairingDialog() = default;
  // Shows the code for the named device (UTF-8; "iPhone" when empty). `onCancel` runs at most
  // once, when the user dismisses the dialog; never after Close.
  virtual void Show(std::string code, std::string deviceName, std::function<void()> onCancel) = 0;
  // Closes the dialog from any thread; safe to call more than once.
  virtual void Close() = 0;
};

// The platform's dialog (never null in this system).
std::unique_ptr<IPairingDialog> CreatePairingDialog();

// Closes every pairing dialog that is open now, as Close does (no cancel callback); for the
// module's unload.
void CloseOpenPairingDialogs();

// "Enter this code on <device>:" with "iPhone" for an empty name.
std::string PairingHeaderText(const std::string& deviceName);
// The code with one space between characters: "012345" → "0 1 2 3 4 5".
std::string SpacedCode(const std::string& code);

}  // namespace Sorvane
