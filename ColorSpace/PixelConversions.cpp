// Single-pixel conversions: the exact formulas, evaluated in double,
// truncated toward zero and (for the conversions back to RGB) clamped.
#include <cstdint>

#include "ColorSpace.h"
#include "ColorTables.h"
#include "ExactArithmetic.h"

namespace {

using colorspace::ExactMatrix34;

struct Components {
  std::uint8_t first;
  std::uint8_t second;
  std::uint8_t third;
};

Components Convert(const ExactMatrix34& matrix, std::uint8_t first, std::uint8_t second, std::uint8_t third) {
  const double a = first;
  const double b = second;
  const double c = third;
  return {colortwist::TruncateToByte(colortwist::EvaluateRow(matrix[0], a, b, c)),
          colortwist::TruncateToByte(colortwist::EvaluateRow(matrix[1], a, b, c)),
          colortwist::TruncateToByte(colortwist::EvaluateRow(matrix[2], a, b, c))};
}

// Bits 24-31 are ignored on input and cleared on output.
void ConvertPacked(const ExactMatrix34& matrix, std::uint32_t& pixel) {
  const Components out = Convert(matrix, static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
                                 static_cast<std::uint8_t>(pixel));
  pixel = (std::uint32_t{out.first} << 16) | (std::uint32_t{out.second} << 8) | out.third;
}

// All inputs are read before any output is written. Forward conversions
// write c, b, a; inverse ones a, b, c, so with aliased arguments the last
// write wins in that order.
void ConvertForward(const ExactMatrix34& matrix, std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  const Components out = Convert(matrix, a, b, c);
  c = out.third;
  b = out.second;
  a = out.first;
}

void ConvertInverse(const ExactMatrix34& matrix, std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  const Components out = Convert(matrix, a, b, c);
  a = out.first;
  b = out.second;
  c = out.third;
}

}  // namespace

void CColorSpace::RGBtoYCbCr(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  ConvertForward(colorspace::kExactRGBtoYCbCr, a, b, c);
}

void CColorSpace::RGBtoYCbCr(std::uint32_t& nPixel) { ConvertPacked(colorspace::kExactRGBtoYCbCr, nPixel); }

void CColorSpace::RGBtoYUV(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  ConvertForward(colorspace::kExactRGBtoYUV, a, b, c);
}

void CColorSpace::RGBtoYUV(std::uint32_t& nPixel) { ConvertPacked(colorspace::kExactRGBtoYUV, nPixel); }

void CColorSpace::YCbCrtoRGB(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  ConvertInverse(colorspace::kExactYCbCrtoRGB, a, b, c);
}

void CColorSpace::YCbCrtoRGB(std::uint32_t& nPixel) { ConvertPacked(colorspace::kExactYCbCrtoRGB, nPixel); }

void CColorSpace::YUVtoRGB(std::uint8_t& a, std::uint8_t& b, std::uint8_t& c) {
  ConvertInverse(colorspace::kExactYUVtoRGB, a, b, c);
}

void CColorSpace::YUVtoRGB(std::uint32_t& nPixel) { ConvertPacked(colorspace::kExactYUVtoRGB, nPixel); }
