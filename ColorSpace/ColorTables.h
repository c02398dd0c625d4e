// Coefficients and 3x4 matrices of the four conversions. Internal to the
// library: nothing here is exported.
#pragma once

#include <bit>
#include <cstdint>

namespace colorspace {

constexpr float FloatFromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

// Every coefficient is the single-precision number given by its bit pattern.
namespace coef {
// RGB to YUV.
inline constexpr float kYR = FloatFromBits(0x3E991687);    // 0.299
inline constexpr float kYG = FloatFromBits(0x3F1645A2);    // 0.587
inline constexpr float kYB = FloatFromBits(0x3DE978D5);    // 0.114
inline constexpr float kHalf = FloatFromBits(0x3F000000);  // 0.5
inline constexpr float kUR = FloatFromBits(0x3E2CA03C);    // 0.16858
inline constexpr float kUG = FloatFromBits(0x3EA9AFE2);    // 0.33142
inline constexpr float kVG = FloatFromBits(0x3ED65FD9);    // 0.4187
inline constexpr float kVB = FloatFromBits(0x3DA6809D);    // 0.0813
// YUV to RGB.
inline constexpr float kRV = FloatFromBits(0x3FB428F6);  // 1.4075
inline constexpr float kGU = FloatFromBits(0x3EB0E560);  // 0.3455
inline constexpr float kGV = FloatFromBits(0x3F3786C2);  // 0.7169
inline constexpr float kBU = FloatFromBits(0x3FE3B646);  // 1.779
// RGB to YCbCr.
inline constexpr float kStudioYR = FloatFromBits(0x3E839581);      // 0.257
inline constexpr float kStudioYG = FloatFromBits(0x3F010625);      // 0.504
inline constexpr float kStudioYB = FloatFromBits(0x3DC8B439);      // 0.098
inline constexpr float kCbR = FloatFromBits(0x3E178D50);           // 0.148
inline constexpr float kCbG = FloatFromBits(0x3E94FDF4);           // 0.291
inline constexpr float kStudioChroma = FloatFromBits(0x3EE0C49C);  // 0.439
inline constexpr float kCrG = FloatFromBits(0x3EBC6A7F);           // 0.368
inline constexpr float kCrB = FloatFromBits(0x3D916873);           // 0.071
// YCbCr to RGB.
inline constexpr float kStudioY = FloatFromBits(0x3F94FDF4);  // 1.164
inline constexpr float kRCr = FloatFromBits(0x3FCC49BA);      // 1.596
inline constexpr float kGCr = FloatFromBits(0x3F5020C5);      // 0.813
inline constexpr float kGCb = FloatFromBits(0x3EC8B439);      // 0.392
inline constexpr float kBCb = FloatFromBits(0x40011687);      // 2.017
// Offsets.
inline constexpr float kChromaOffset = FloatFromBits(0x43000000);  // 128
inline constexpr float kLumaOffset = FloatFromBits(0x41800000);    // 16
inline constexpr float kOne = FloatFromBits(0x3F800000);
inline constexpr float kZero = FloatFromBits(0x00000000);
// Constant terms of the inverse matrices, offsets multiplied out.
inline constexpr float kRConstYUV = FloatFromBits(0xC33428F6);    // -180.16
inline constexpr float kGConstYUV = FloatFromBits(0x4307FCB9);    // 135.9872
inline constexpr float kBConstYUV = FloatFromBits(0xC363B646);    // -227.712
inline constexpr float kRConstYCbCr = FloatFromBits(0xC35EE979);  // -222.912
inline constexpr float kGConstYCbCr = FloatFromBits(0x43079DB2);  // 135.616
inline constexpr float kBConstYCbCr = FloatFromBits(0xC38A6666);  // -276.8
}  // namespace coef

using Matrix34 = float[3][4];
using ExactMatrix34 = double[3][4];

// Component order: rows are the output components first, second, third;
// columns weight the input components first, second, third, then a constant.
inline constexpr Matrix34 kMatrixRGBtoYUV = {
    {coef::kYR, coef::kYG, coef::kYB, coef::kZero},
    {-coef::kUR, -coef::kUG, coef::kHalf, coef::kChromaOffset},
    {coef::kHalf, -coef::kVG, -coef::kVB, coef::kChromaOffset},
};
inline constexpr Matrix34 kMatrixYUVtoRGB = {
    {coef::kOne, coef::kZero, coef::kRV, coef::kRConstYUV},
    {coef::kOne, -coef::kGU, -coef::kGV, coef::kGConstYUV},
    {coef::kOne, coef::kBU, coef::kZero, coef::kBConstYUV},
};
inline constexpr Matrix34 kMatrixRGBtoYCbCr = {
    {coef::kStudioYR, coef::kStudioYG, coef::kStudioYB, coef::kLumaOffset},
    {-coef::kCbR, -coef::kCbG, coef::kStudioChroma, coef::kChromaOffset},
    {coef::kStudioChroma, -coef::kCrG, -coef::kCrB, coef::kChromaOffset},
};
inline constexpr Matrix34 kMatrixYCbCrtoRGB = {
    {coef::kStudioY, coef::kZero, coef::kRCr, coef::kRConstYCbCr},
    {coef::kStudioY, -coef::kGCb, -coef::kGCr, coef::kGConstYCbCr},
    {coef::kStudioY, coef::kBCb, coef::kZero, coef::kBConstYCbCr},
};

// Memory order: row k gives pixel byte k; columns weight bytes 0, 1, 2, then
// the constant. That is the component-order matrix with its rows reversed and
// the first three columns of every row reversed.
inline constexpr Matrix34 kTwistRGBtoYUV = {
    {-coef::kVB, -coef::kVG, coef::kHalf, coef::kChromaOffset},
    {coef::kHalf, -coef::kUG, -coef::kUR, coef::kChromaOffset},
    {coef::kYB, coef::kYG, coef::kYR, coef::kZero},
};
inline constexpr Matrix34 kTwistYUVtoRGB = {
    {coef::kZero, coef::kBU, coef::kOne, coef::kBConstYUV},
    {-coef::kGV, -coef::kGU, coef::kOne, coef::kGConstYUV},
    {coef::kRV, coef::kZero, coef::kOne, coef::kRConstYUV},
};
inline constexpr Matrix34 kTwistRGBtoYCbCr = {
    {-coef::kCrB, -coef::kCrG, coef::kStudioChroma, coef::kChromaOffset},
    {coef::kStudioChroma, -coef::kCbG, -coef::kCbR, coef::kChromaOffset},
    {coef::kStudioYB, coef::kStudioYG, coef::kStudioYR, coef::kLumaOffset},
};
inline constexpr Matrix34 kTwistYCbCrtoRGB = {
    {coef::kZero, coef::kBCb, coef::kStudioY, coef::kBConstYCbCr},
    {-coef::kGCr, -coef::kGCb, coef::kStudioY, coef::kGConstYCbCr},
    {coef::kRCr, coef::kZero, coef::kStudioY, coef::kRConstYCbCr},
};

constexpr bool IsMemoryOrderOf(const Matrix34& twist, const Matrix34& matrix) {
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      if (twist[2 - row][2 - col] != matrix[row][col]) return false;
    }
    if (twist[2 - row][3] != matrix[row][3]) return false;
  }
  return true;
}
static_assert(IsMemoryOrderOf(kTwistRGBtoYUV, kMatrixRGBtoYUV));
static_assert(IsMemoryOrderOf(kTwistYUVtoRGB, kMatrixYUVtoRGB));
static_assert(IsMemoryOrderOf(kTwistRGBtoYCbCr, kMatrixRGBtoYCbCr));
static_assert(IsMemoryOrderOf(kTwistYCbCrtoRGB, kMatrixYCbCrtoRGB));

// The inverse constants are the offsets multiplied out with the decimal
// coefficients, rounded to single precision. That is the same as rounding
// the product of the stored coefficients, except for the red constant of
// YCbCr, which lands one unit lower.
static_assert(coef::kRConstYUV == static_cast<float>(-128.0 * coef::kRV));
static_assert(coef::kBConstYUV == static_cast<float>(-128.0 * coef::kBU));
static_assert(coef::kGConstYUV == static_cast<float>(128.0 * (double{coef::kGU} + coef::kGV)));
static_assert(std::bit_cast<std::uint32_t>(coef::kRConstYCbCr) ==
              std::bit_cast<std::uint32_t>(static_cast<float>(-16.0 * coef::kStudioY - 128.0 * coef::kRCr)) + 1);
static_assert(coef::kGConstYCbCr ==
              static_cast<float>(-16.0 * coef::kStudioY + 128.0 * (double{coef::kGCb} + coef::kGCr)));
static_assert(coef::kBConstYCbCr == static_cast<float>(-16.0 * coef::kStudioY - 128.0 * coef::kBCb));

// The formulas themselves, as double matrices in component order whose
// constants are the offsets multiplied out exactly (no single-precision
// rounding). With byte inputs every product and sum of these is exact in
// double, so evaluating a row gives the exact value of its formula.
inline constexpr double kOffset = 128.0;
inline constexpr double kLuma = 16.0;

inline constexpr ExactMatrix34 kExactRGBtoYUV = {
    {coef::kYR, coef::kYG, coef::kYB, 0.0},
    {-double{coef::kUR}, -double{coef::kUG}, coef::kHalf, kOffset},
    {coef::kHalf, -double{coef::kVG}, -double{coef::kVB}, kOffset},
};
inline constexpr ExactMatrix34 kExactYUVtoRGB = {
    {1.0, 0.0, coef::kRV, -kOffset* coef::kRV},
    {1.0, -double{coef::kGU}, -double{coef::kGV}, kOffset* coef::kGU + kOffset* coef::kGV},
    {1.0, coef::kBU, 0.0, -kOffset* coef::kBU},
};
inline constexpr ExactMatrix34 kExactRGBtoYCbCr = {
    {coef::kStudioYR, coef::kStudioYG, coef::kStudioYB, kLuma},
    {-double{coef::kCbR}, -double{coef::kCbG}, coef::kStudioChroma, kOffset},
    {coef::kStudioChroma, -double{coef::kCrG}, -double{coef::kCrB}, kOffset},
};
inline constexpr ExactMatrix34 kExactYCbCrtoRGB = {
    {coef::kStudioY, 0.0, coef::kRCr, -kLuma* coef::kStudioY - kOffset* coef::kRCr},
    {coef::kStudioY, -double{coef::kGCb}, -double{coef::kGCr},
     -kLuma* coef::kStudioY + kOffset* coef::kGCb + kOffset* coef::kGCr},
    {coef::kStudioY, coef::kBCb, 0.0, -kLuma* coef::kStudioY - kOffset* coef::kBCb},
};

}  // namespace colorspace
