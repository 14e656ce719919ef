#pragma once
#include <windows.h>

#include "ui/qr_code.h"

namespace Sorvane {

// The symbol as a top-down 32-bit DIB section of edge × edge pixels: opaque white, dark modules
// opaque black at an integer scale, a 2-module quiet zone, centred. Null when there is no symbol,
// it does not fit, or the bitmap cannot be made. The caller owns the bitmap.
HBITMAP RenderQrToBitmap(const QrCode& qr, int edge);

// Hands the bitmap to a static control and deletes whatever the control does not keep: the image
// it gave back and, when it made its own copy, the bitmap handed in.
void SetStaticImage(HWND control, HBITMAP bitmap);

}  // namespace Sorvane
