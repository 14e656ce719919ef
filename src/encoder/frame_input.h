#pragma once
#include <cstdint>

namespace Sorvane {

// What an encoder does with a frame handed to EncodeFrame.
enum class FrameInput {
  Encode,
  Ignore,     // null pixels, a non-positive size or stride: dropped without a word
  ShortRows,  // rows shorter than width × 4 bytes: reading them would run past the buffer
};

inline FrameInput CheckFrameInput(const uint8_t* bgra, int width, int height, int strideBytes) {
  if (bgra == nullptr || width < 1 || height < 1 || strideBytes <= 0)
    return FrameInput::Ignore;
  if (static_cast<int64_t>(strideBytes) < static_cast<int64_t>(width) * 4)
    return FrameInput::ShortRows;
  return FrameInput::Encode;
}

}  // namespace Sorvane
