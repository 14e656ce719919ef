#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Sorvane {

// One QR Code Model 2 symbol (byte mode, error-correction level H).
struct QrCode {
  int32_t size = 0;  // modules per side, 4 × version + 17; 0 when encoding failed
  int32_t version = 0;
  std::vector<uint8_t> modules;     // size × size, row-major; 1 = dark
  std::vector<uint8_t> isFunction;  // 1 where a function pattern or reserved area lies
};

// The symbol for the text's bytes in the smallest version that holds them; size 0 when even
// version 40 is too small.
QrCode QrEncodeText(const std::string& text);
// True for a dark module; false for a light one or outside the symbol.
bool QrGetModule(const QrCode& qr, int x, int y);

// Capacity figures of one version at level H.
struct QrBlockLayout {
  int blocks = 0;
  int eccPerBlock = 0;
  int dataCodewords = 0;
};
QrBlockLayout QrBlockLayoutFor(int version);
// The smallest version whose data area holds `byteCount` bytes with the encoder's 7-bit slack,
// or 0 when none does.
int QrVersionForByteCount(size_t byteCount);
// Centre coordinates of the alignment patterns along one axis (empty for version 1).
std::vector<int> QrAlignmentPositions(int version);

}  // namespace Sorvane
