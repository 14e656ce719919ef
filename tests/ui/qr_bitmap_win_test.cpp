#include "ui/qr_bitmap_win.h"

#include <gtest/gtest.h>

#include <string>

namespace Sorvane {
namespace {

uint32_t PixelAt(HBITMAP bitmap, int x, int y) {
  DIBSECTION dib = {};
  if (GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib)
    return 0x12345678;
  const auto* row = static_cast<const uint8_t*>(dib.dsBm.bmBits) + y * dib.dsBm.bmWidthBytes;
  return reinterpret_cast<const uint32_t*>(row)[x];
}

TEST(RenderQrToBitmap, CentredModulesAtAnIntegerScaleWithATwoModuleQuietZone) {
  const QrCode qr = QrEncodeText(std::string(40, 'v'));
  ASSERT_EQ(qr.version, 5);  // size 37: 41 modules across at scale 4, offset 18
  HBITMAP bitmap = RenderQrToBitmap(qr, 200);
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION dib = {};
  ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidth, 200);
  EXPECT_EQ(dib.dsBm.bmHeight, 200);
  EXPECT_EQ(dib.dsBm.bmBitsPixel, 32);
  EXPECT_EQ(PixelAt(bitmap, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PixelAt(bitmap, 25, 25), 0xFFFFFFFFu) << "quiet zone";
  EXPECT_EQ(PixelAt(bitmap, 26, 26), 0xFF000000u) << "finder corner (0,0) at 18 + 2×4";
  EXPECT_EQ(PixelAt(bitmap, 29, 29), 0xFF000000u);
  EXPECT_EQ(PixelAt(bitmap, 30, 30), 0xFFFFFFFFu) << "finder ring (1,1) is light";
  for (int x = 0; x < qr.size; ++x) {
    const uint32_t expected = QrGetModule(qr, x, 6) ? 0xFF000000u : 0xFFFFFFFFu;
    EXPECT_EQ(PixelAt(bitmap, 18 + (x + 2) * 4 + 1, 18 + 8 * 4 + 2), expected) << x;
  }
  EXPECT_EQ(PixelAt(bitmap, 18 + 39 * 4, 18 + 39 * 4), 0xFFFFFFFFu) << "right quiet zone";
  DeleteObject(bitmap);
}

TEST(RenderQrToBitmap, NothingWithoutASymbolOrRoom) {
  EXPECT_EQ(RenderQrToBitmap(QrCode{}, 200), nullptr);
  const QrCode big = QrEncodeText(std::string(1000, 'w'));
  ASSERT_GT(big.size, 100);
  EXPECT_EQ(RenderQrToBitmap(big, 100), nullptr);
  HBITMAP fits = RenderQrToBitmap(big, big.size + 4);
  EXPECT_NE(fits, nullptr) << "scale 1";
  DeleteObject(fits);
}

TEST(SetStaticImage, EveryBitmapHandedInEndsDeletedOrHeldByTheControl) {
  HWND control = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | SS_BITMAP | SS_REALSIZEIMAGE, 0, 0,
                                 200, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(control, nullptr);
  const QrCode qr = QrEncodeText("sorvane://pair?v=3&id=x&name=y");
  HBITMAP handedIn[3] = {};
  for (HBITMAP& bitmap : handedIn) {
    bitmap = RenderQrToBitmap(qr, 200);
    ASSERT_NE(bitmap, nullptr);
    SetStaticImage(control, bitmap);
  }
  auto held = reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0));
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(GetObjectType(held), static_cast<DWORD>(OBJ_BITMAP));
  for (HBITMAP bitmap : handedIn) {
    if (bitmap != held) {
      EXPECT_EQ(GetObjectType(bitmap), 0u) << "a bitmap the control does not hold was kept";
    }
  }
  RecordProperty("controlCopiesTheImage", held != handedIn[2] ? "yes" : "no");
  SetStaticImage(control, nullptr);
  EXPECT_EQ(GetObjectType(held), 0u) << "taking the image back deletes it";
  DestroyWindow(control);
}

}  // namespace
}  // namespace Sorvane
