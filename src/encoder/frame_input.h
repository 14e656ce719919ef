#pragma once
#include <atomic>
#include <cstdint>

#include "diag/log_channels.h"

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

// Whether EncodeFrame goes on with this frame; short rows are logged the first time only.
inline bool AcceptFrameInput(const uint8_t* bgra, int width, int height, int strideBytes,
                             std::atomic<bool>& shortRowsLogged) {
  switch (CheckFrameInput(bgra, width, height, strideBytes)) {
    case FrameInput::Ignore:
      return false;
    case FrameInput::ShortRows:
      if (!shortRowsLogged.exchange(true)) {
        Log(channels::kEncoder, kLogError,
            "EncodeFrame: row bytes %d < width %d × 4 — frame refused (further ones silently)",
            strideBytes, width);
      }
      return false;
    case FrameInput::Encode:
      break;
  }
  return true;
}

}  // namespace Sorvane
