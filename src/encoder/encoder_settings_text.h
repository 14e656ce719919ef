#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "encoder/hardware_encoder.h"

namespace Sorvane {

// An encoder's complete settings as one line of text, as the encoder log prints them when an
// encoder opens, and read back, so a measurement can open an encoder exactly like the stream's:
// "codec=H264 size=1920x1080 fps=60 bitrate=150000000 peak=0 gop=5 rc=Quality quality=0.70
// cap=340000".
std::string FormatEncoderSettings(const EncoderSettings& settings);
// Nullopt when a field is missing, unknown or out of range.
std::optional<EncoderSettings> ParseEncoderSettings(std::string_view text);

}  // namespace Sorvane
