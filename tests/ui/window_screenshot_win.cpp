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

}  // namespace

bool SaveWindowScreenshot(HWND window, const std::wstring& name) {
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
    return false;
  bool saved = false;
  CLSID png;
  if (PngEncoder(&png)) {
    HBITMAP capture = CaptureWindow(window);
    {
      Gdiplus::Bitmap image(capture, nullptr);
      saved = image.Save((folder + L"\\" + name).c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    DeleteObject(capture);
  }
  Gdiplus::GdiplusShutdown(token);
  return saved;
}

}  // namespace Sorvane::test
