#pragma once
#include <cstdint>

namespace Sorvane::bench {

// Draws frame `index` of a moving synthetic scene into a BGRA picture: a drifting colour
// gradient, a band of fine detail that scrolls, a strip of text-like blocks that changes, and
// solid shapes that cross the picture. Deterministic, so runs compare.
void DrawSyntheticScene(uint8_t* bgra, int width, int height, int rowBytes, uint32_t index);

}  // namespace Sorvane::bench
