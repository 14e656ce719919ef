#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Sorvane::test {

// A window's pixels as they were on screen, frame included, top row first (0x00RRGGBB).
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  // True when nothing was captured or every pixel has one colour: a picture of nothing.
  bool Blank() const;
  // How many pixels of the rectangle (window coordinates) differ from `other`'s.
  int DifferingPixels(const Screenshot& other, const RECT& area) const;
};

// Captures what the window shows and saves it as a PNG under the build's screenshots folder
// (build/windows-cross/screenshots/<name>); empty when it could not.
Screenshot TakeWindowScreenshot(HWND window, const std::wstring& name);

// The same, true when a picture that is not blank was saved.
bool SaveWindowScreenshot(HWND window, const std::wstring& name);

// A child's rectangle in its top-level window's screenshot coordinates.
RECT RectInScreenshot(HWND child, HWND window);

}  // namespace Sorvane::test
