#pragma once
#include <cstdint>
#include <optional>

namespace Sorvane::hostsim {

// What a scene frame carries in its data strip: which frame it is and when it was pushed.
struct SceneStamp {
  uint32_t frameIndex = 0;
  uint64_t pushTimeUs = 0;  // steady clock, microseconds
  bool operator==(const SceneStamp&) const = default;
};

// Draws the moving test scene into a BGRA frame. The top of the picture is a strip of large
// black/white blocks (64 per row, three rows, each block width/64 pixels square) that carries the
// stamp and survives compression and scaling. The lip-sync marker's square (sync_marks.h) is drawn
// unlit.
void RenderTestScene(uint8_t* bgra, int width, int height, int rowBytes, const SceneStamp& stamp);

// Draws only the data strip: lets a host take the push time after the (slower) picture is drawn.
void DrawSceneStamp(uint8_t* bgra, int width, int height, int rowBytes, const SceneStamp& stamp);

// Reads the stamp back from a decoded picture's luma plane (any size with the source's aspect);
// nullopt when the strip's sync pattern or checksum does not match.
std::optional<SceneStamp> ReadSceneStamp(const uint8_t* luma, int width, int height, int stride);

// Height in pixels of the data strip at a given picture width.
int SceneStripHeight(int width);

}  // namespace Sorvane::hostsim
