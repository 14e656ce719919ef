#pragma once
#include <cstdint>
#include <vector>

#include "ui/qr_code.h"

// Building blocks of the QR encoder, shared by its source files only.
namespace Sorvane::qr {

uint8_t GfMultiply(uint8_t a, uint8_t b);
// Coefficients of (x − α⁰)…(x − α^(degree−1)) without the leading 1, highest power first.
std::vector<uint8_t> GeneratorPolynomial(int degree);
// The error-correction codewords of one block: data × x^e modulo the generator.
std::vector<uint8_t> EccCodewords(const std::vector<uint8_t>& data,
                                  const std::vector<uint8_t>& generator);

// Data codewords followed by error-correction codewords, interleaved block by block.
std::vector<uint8_t> InterleavedCodewords(const std::vector<uint8_t>& data, int version);

// An empty symbol of the version with every function pattern drawn and reserved.
QrCode BlankSymbol(int version);
void PlaceCodewords(QrCode& qr, const std::vector<uint8_t>& codewords);
// Inverts the non-function modules where the mask's condition holds (applying twice undoes).
void ApplyMask(QrCode& qr, int mask);
void DrawFormatBits(QrCode& qr, int mask);
void DrawVersionBits(QrCode& qr);
int PenaltyScore(const QrCode& qr);

}  // namespace Sorvane::qr
