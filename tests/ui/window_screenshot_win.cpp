#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <windows.h>
// after windows.h
#include <objidl.h>
// after objidl.h
#include <gdiplus.h>

#include <vector>

#include "ui/window_screenshot_win.h"

namespace Sorvane::test {
namespace {

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, bytes = 0;
  Gdiplus::GetImageEncodersSize(&count, &bytes);
  std::vector<unsigned char> buffer(bytes);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (bytes == 0 || Gdiplus::GetImageEncoders(count, bytes, encoders) != Gdiplus::Ok)
    return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(encoders[i].MimeType) == L"image/png") {
      *clsid = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}

// The window's pixels as they are on screen, frame included.
HBITMAP CaptureWindow(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

Screenshot PixelsOf(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  Screenshot shot;
  if (info.bmWidth <= 0 || info.bmHeight <= 0)
    return shot;
  BITMAPINFO header = {};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = info.bmWidth;
  header.bmiHeader.biHeight = -info.bmHeight;  // top row first
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight);
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, info.bmHeight, pixels.data(), &header, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != info.bmHeight)
    return shot;
  for (uint32_t& pixel : pixels)
    pixel &= 0x00FFFFFF;
  shot.width = info.bmWidth;
  shot.height = info.bmHeight;
  shot.pixels = std::move(pixels);
  return shot;
}

}  // namespace

bool Screenshot::Blank() const {
  return pixels.empty() || std::all_of(pixels.begin(), pixels.end(),
                                       [&](uint32_t pixel) { return pixel == pixels.front(); });
}

int Screenshot::DifferingPixels(const Screenshot& other, const RECT& area) const {
  int differing = 0;
  for (int y = std::max<LONG>(area.top, 0); y < std::min<LONG>(area.bottom, height); ++y) {
    for (int x = std::max<LONG>(area.left, 0); x < std::min<LONG>(area.right, width); ++x) {
      if (x >= other.width || y >= other.height || At(x, y) != other.At(x, y))
        ++differing;
    }
  }
  return differing;
}

RECT RectInScreenshot(HWND child, HWND window) {
  RECT windowRect, childRect;
  GetWindowRect(window, &windowRect);
  GetWindowRect(child, &childRect);
  OffsetRect(&childRect, -windowRect.left, -windowRect.top);
  return childRect;
}

bool SaveWindowScreenshot(HWND window, const std::wstring& name) {
  return !TakeWindowScreenshot(window, name).Blank();
}

Screenshot TakeWindowScreenshot(HWND window, const std::wstring& name) {
  // Tests run in build/windows-cross/tests/ui.
  const std::wstring folder = L"..\\..\\screenshots";
  CreateDirectoryW(folder.c_str(), nullptr);
  // Whole windows only: a tall one would run off the bottom of the screen where it stands.
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);  // let the window manager put the frame on screen
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
    return {};
  Screenshot shot;
  CLSID png;
  if (PngEncoder(&png)) {
    HBITMAP capture = CaptureWindow(window);
    {
      Gdiplus::Bitmap image(capture, nullptr);
      if (image.Save((folder + L"\\" + name).c_str(), &png, nullptr) == Gdiplus::Ok)
        shot = PixelsOf(capture);
    }
    DeleteObject(capture);
  }
  Gdiplus::GdiplusShutdown(token);
  return shot;
}

}  // namespace Sorvane::test
