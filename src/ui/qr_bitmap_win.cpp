#include "ui/qr_bitmap_win.h"

#include <cstdint>
#include <cstring>

namespace Sorvane {
namespace {

constexpr int kQuietZone = 2;

void FillSquare(uint32_t* pixels, int edge, int left, int top, int scale) {
  for (int y = top; y < top + scale; ++y)
    for (int x = left; x < left + scale; ++x)
      pixels[static_cast<size_t>(y) * edge + x] = 0xFF000000;
}

}  // namespace

HBITMAP RenderQrToBitmap(const QrCode& qr, int edge) {
  if (qr.size < 1 || edge < 1)
    return nullptr;
  const int modulesAcross = qr.size + 2 * kQuietZone;
  const int scale = edge / modulesAcross;
  if (scale < 1)
    return nullptr;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = edge;
  info.bmiHeader.biHeight = -edge;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap)
      DeleteObject(bitmap);
    return nullptr;
  }
  std::memset(bits, 0xFF, static_cast<size_t>(edge) * edge * 4);
  const int offset = (edge - scale * modulesAcross) / 2;
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int y = 0; y < qr.size; ++y)
    for (int x = 0; x < qr.size; ++x)
      if (QrGetModule(qr, x, y))
        FillSquare(pixels, edge, offset + (x + kQuietZone) * scale,
                   offset + (y + kQuietZone) * scale, scale);
  return bitmap;
}

void SetStaticImage(HWND control, HBITMAP bitmap) {
  auto previous = reinterpret_cast<HBITMAP>(
      SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  if (previous != nullptr && previous != bitmap)
    DeleteObject(previous);
  // A 32-bpp bitmap with alpha is copied by the control, which then never frees the original.
  auto kept = reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  if (bitmap != nullptr && kept != bitmap)
    DeleteObject(bitmap);
}

}  // namespace Sorvane
