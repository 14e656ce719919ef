#include "sv-host/sync_marks.h"

#include <algorithm>

namespace Sorvane::hostsim {
namespace {

// The marker square: its side is an eighth of the picture height, its corner the picture's.
struct MarkerBox {
  int left, top, side;
};

MarkerBox BoxFor(int width, int height) {
  const int side = std::max(8, height / 8);
  return {std::max(0, width - side), std::max(0, height - side), std::min(side, width)};
}

// Mean luma of the box's part between fractions [from, to) of its side on both axes.
double MeanLuma(const uint8_t* luma, int stride, const MarkerBox& box, double from, double to) {
  const int a = box.top + static_cast<int>(box.side * from);
  const int b = box.top + static_cast<int>(box.side * to);
  const int c = box.left + static_cast<int>(box.side * from);
  const int d = box.left + static_cast<int>(box.side * to);
  double sum = 0;
  int n = 0;
  for (int y = a; y < b; ++y) {
    for (int x = c; x < d; ++x) {
      sum += luma[static_cast<size_t>(y) * stride + x];
      ++n;
    }
  }
  return n > 0 ? sum / n : 0;
}

}  // namespace

void DrawSyncMarker(uint8_t* bgra, int width, int height, int rowBytes, bool lit) {
  if (bgra == nullptr || width < 8 || height < 8 || rowBytes < width * 4)
    return;
  const MarkerBox box = BoxFor(width, height);
  const int ring = box.side / 4;
  for (int y = box.top; y < box.top + box.side && y < height; ++y) {
    uint8_t* row = bgra + static_cast<size_t>(y) * rowBytes;
    const bool innerRow = y >= box.top + ring && y < box.top + box.side - ring;
    for (int x = box.left; x < box.left + box.side && x < width; ++x) {
      const bool inner = innerRow && x >= box.left + ring && x < box.left + box.side - ring;
      const uint8_t v = lit && inner ? 255 : 0;
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = v;
      row[4 * x + 3] = 255;
    }
  }
}

bool ReadSyncMarker(const uint8_t* luma, int width, int height, int stride) {
  if (luma == nullptr || width < 8 || height < 8)
    return false;
  const MarkerBox box = BoxFor(width, height);
  // Sample well inside each part so scaling and compression at the edges do not matter.
  const double centre = MeanLuma(luma, stride, box, 0.375, 0.625);
  const double ringTop = MeanLuma(luma, stride, box, 0.05, 0.15);
  const double ringBottom = MeanLuma(luma, stride, box, 0.85, 0.95);
  return centre >= 180 && ringTop <= 60 && ringBottom <= 60;
}

}  // namespace Sorvane::hostsim
