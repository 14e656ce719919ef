#pragma once
#include <cstdint>

namespace Sorvane::hostsim {

// Lip-sync marks: once a second the scene lights a marker in its bottom-right corner and the tone
// carries a click, both starting at the same push time, so a receiver can compare their arrival.
constexpr uint32_t kSyncSampleRate = 48000;
constexpr uint32_t kSyncClickSamples = kSyncSampleRate / 50;  // 20 ms
constexpr double kSyncClickHz = 1000.0;
constexpr float kSyncClickAmplitude = 0.5f;

// Frames 0, fps, 2 fps ... carry the marker; their push times are whole seconds into the run,
// where the tone's clicks start.
inline bool IsSyncFrame(uint32_t frameIndex, int fps) {
  return fps > 0 && frameIndex % static_cast<uint32_t>(fps) == 0;
}

// Draws the marker's square: a dark ring around a block that is white when `lit`, dark
// otherwise.
void DrawSyncMarker(uint8_t* bgra, int width, int height, int rowBytes, bool lit);

// True when a decoded picture (luma plane, any scale of the source) shows the lit marker: a
// bright centre inside a dark ring, which ordinary content seldom has in that corner.
bool ReadSyncMarker(const uint8_t* luma, int width, int height, int stride);

}  // namespace Sorvane::hostsim
