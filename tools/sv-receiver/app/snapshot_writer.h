#pragma once
#include <filesystem>

#include "sv-receiver/app/video_decoder.h"

namespace Sorvane::receiver {

// Writes a decoded picture as an RGB PNG file (libavcodec's PNG encoder); false on failure.
bool WritePngSnapshot(const DecodedPicture& picture, const std::filesystem::path& file);

}  // namespace Sorvane::receiver
