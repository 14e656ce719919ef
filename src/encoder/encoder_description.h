#pragma once
#include <string>

namespace Sorvane {

// The description of the encoder that configured or tore down last in this process (during a
// seamless switch two encoders exist and the later one wins). The setup dialog shows it.
std::string CurrentEncoderDescription();
void SetCurrentEncoderDescription(const std::string& description);

}  // namespace Sorvane
