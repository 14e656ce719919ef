#include <zbar.h>

#include "ui/qr_decoder.h"

namespace Sorvane::test {

GreyImage DrawQr(const QrCode& qr, int scale, int quietZone) {
  GreyImage image;
  image.width = image.height = (qr.size + 2 * quietZone) * scale;
  image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
  for (int y = 0; y < qr.size; ++y)
    for (int x = 0; x < qr.size; ++x)
      if (QrGetModule(qr, x, y))
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx)
            image.pixels[static_cast<size_t>((y + quietZone) * scale + dy) * image.width +
                         (x + quietZone) * scale + dx] = 0;
  return image;
}

std::optional<std::string> DecodeQr(const GreyImage& image) {
  zbar::zbar_image_scanner_t* scanner = zbar::zbar_image_scanner_create();
  zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
  zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
  // Raw bytes, without guessing a text encoding.
  zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY, 1);
  zbar::zbar_image_t* zimage = zbar::zbar_image_create();
  zbar::zbar_image_set_format(zimage, zbar_fourcc('Y', '8', '0', '0'));
  zbar::zbar_image_set_size(zimage, image.width, image.height);
  zbar::zbar_image_set_data(zimage, image.pixels.data(), image.pixels.size(), nullptr);
  std::optional<std::string> result;
  if (zbar::zbar_scan_image(scanner, zimage) > 0) {
    const zbar::zbar_symbol_t* symbol = zbar::zbar_image_first_symbol(zimage);
    result =
        std::string(zbar::zbar_symbol_get_data(symbol), zbar::zbar_symbol_get_data_length(symbol));
  }
  zbar::zbar_image_destroy(zimage);
  zbar::zbar_image_scanner_destroy(scanner);
  return result;
}

}  // namespace Sorvane::test
