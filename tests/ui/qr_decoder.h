#pragma once
#include <optional>
#include <string>
#include <vector>

#include "ui/qr_code.h"

namespace Sorvane::test {

// A grey image, one byte per pixel, 0 black and 255 white.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// The symbol drawn black on white, `scale` pixels per module, with a quiet zone of `quietZone`.
GreyImage DrawQr(const QrCode& qr, int scale, int quietZone);
// The bytes an independent decoder reads from the image, or nothing when it finds no QR code.
std::optional<std::string> DecodeQr(const GreyImage& image);

}  // namespace Sorvane::test
