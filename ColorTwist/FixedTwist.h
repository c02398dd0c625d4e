// The fixed-point forms the kernels run on, how a float or double matrix
// becomes one (at compile time for the library's own matrices), and the
// per-pixel arithmetic every kernel must reproduce exactly.
#pragma once

#include <cstdint>
#include <optional>

#include "FloatMath.h"

namespace colortwist {

// Rounded twist in fixed point, memory order (row k gives byte k, column j
// weights byte j):
//   byte k = clamp((sum_j weight[k][j] * x_j + bias[k]) >> shift, 0, 255)
// bias holds the constant scaled by 2^shift plus half a unit, so the shift
// rounds to nearest on that grid, halves going up. Weights are 16-bit so that
// the SIMD kernels can use 16x16->32 multiply-adds. The shift is the largest
// from 14 down to 10 whose weights fit 16 bits and whose scaled constants
// stay within 2^30 in magnitude (leaving the sums room in 32 bits: a constant
// up to 2^16 at shift 14, up to 2^20 at shift 10); each weight is then off by at most
// 2^-(shift+1), so a result is off the exact value by at most
// 0.5 + (3 * 255 + 1) * 2^-(shift+1): below 0.88 for any matrix, and below
// 0.55 for the library's four (shift 13 or 14). Every result is therefore one
// of the two integers nearest the exact value.
//
// foldScale, when not 0, is a power of two that divides every bias with a
// quotient that fits 16 bits: the SIMD kernels then fold the constant into a
// multiply-add (GroupArithmetic.h). It changes no result.
struct FixedTwist {
  std::int16_t weight[3][3];
  std::int32_t bias[3];
  int shift;
  std::int32_t foldScale;
};

// Exact masked twist in fixed point, memory order. The exact value S of a
// row is an integer multiple of 2^-27 whenever every weight and constant is,
// and then
//   S * 2^27 = sum_j (hi[k][j] * 2^14 + lo[k][j]) * x_j + biasHi[k] * 2^14 + biasLo[k]
// with 0 <= lo < 2^14. Both partial sums fit in 32 bits, and
//   floor(S) = (A + (B >> 14)) >> 13,  A = sum hi*x + biasHi,  B = sum lo*x + biasLo
// because the low 14 bits dropped from B are below the 2^-13 grain of A.
// Clamping makes floor and truncation toward zero agree.
struct ExactFixedTwist {
  std::int16_t hi[3][3];
  std::int16_t lo[3][3];
  std::int32_t biasHi[3];
  std::int32_t biasLo[3];
};

inline constexpr int kExactFractionBits = 27;
inline constexpr int kExactLowBits = 14;

namespace detail {

inline constexpr int kMaxShift = 14;
inline constexpr int kMinShift = 10;
inline constexpr double kMaxWeight = 32767.0;
inline constexpr double kMaxScaledBias = 1073741824.0;  // 2^30: leaves room for the products

// The largest power of two up to 2^14 that divides every bias with a 16-bit
// quotient, or 0.
constexpr std::int32_t FoldScale(const std::int32_t (&bias)[3]) {
  for (std::int32_t scale = 1 << 14; scale >= 1; scale /= 2) {
    bool fits = true;
    for (const std::int32_t b : bias) fits = fits && b % scale == 0 && b / scale >= -32768 && b / scale <= 32767;
    if (fits) return scale;
  }
  return 0;
}

constexpr std::optional<FixedTwist> FixedTwistWithShift(const float (&twist)[3][4], int shift) {
  FixedTwist fixed{};
  fixed.shift = shift;
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 3; ++j) {
      const double scaled = RoundHalfEven(TimesPowerOfTwo(twist[k][j], shift));
      if (!(Abs(scaled) <= kMaxWeight)) return std::nullopt;
      fixed.weight[k][j] = static_cast<std::int16_t>(scaled);
    }
    const double bias = RoundHalfEven(TimesPowerOfTwo(twist[k][3], shift));
    if (!(Abs(bias) <= kMaxScaledBias)) return std::nullopt;
    fixed.bias[k] = static_cast<std::int32_t>(bias) + (std::int32_t{1} << (shift - 1));
  }
  fixed.foldScale = FoldScale(fixed.bias);
  return fixed;
}

// value * 2^27 as an integer, if it is one and lies within limit.
constexpr std::optional<std::int64_t> ExactScaled(double value, double limit) {
  const double scaled = TimesPowerOfTwo(value, kExactFractionBits);
  if (!(Abs(scaled) < limit) || scaled != Floor(scaled)) return std::nullopt;
  return static_cast<std::int64_t>(scaled);
}

}  // namespace detail

// Empty when the matrix has no fixed-point form: a weight whose magnitude
// rounds to 2^15 or more at shift 10 (about 2^15 / 2^10 = 32: 31.9 fits, 32
// does not), a constant above 2^30 / 2^10 = 2^20 in magnitude, or a value
// that is not finite. Callers then use the double kernels.
constexpr std::optional<FixedTwist> MakeFixedTwist(const float (&twist)[3][4]) {
  // The finest grain whose weights still fit 16 bits.
  for (int shift = detail::kMaxShift; shift >= detail::kMinShift; --shift) {
    if (auto fixed = detail::FixedTwistWithShift(twist, shift)) return fixed;
  }
  return std::nullopt;
}

// Takes a component-order matrix, returns the memory-order fixed form; empty
// when a weight reaches 4 or a constant 2^16 in magnitude, or a value is not
// a multiple of 2^-27.
constexpr std::optional<ExactFixedTwist> MakeExactFixedTwist(const double (&matrix)[3][4]) {
  // Weights below 4 in magnitude keep hi within 16 bits; constants below
  // 2^16 keep the high partial sum within 32 bits.
  constexpr double kWeightLimit = 536870912.0;        // 4 * 2^27
  constexpr double kConstantLimit = 8796093022208.0;  // 2^16 * 2^27
  constexpr std::int64_t kLowMask = (std::int64_t{1} << kExactLowBits) - 1;
  ExactFixedTwist fixed{};
  for (int k = 0; k < 3; ++k) {
    const int row = 2 - k;  // byte k holds component 2 - k
    for (int j = 0; j < 3; ++j) {
      const auto weight = detail::ExactScaled(matrix[row][2 - j], kWeightLimit);
      if (!weight) return std::nullopt;
      fixed.hi[k][j] = static_cast<std::int16_t>(*weight >> kExactLowBits);
      fixed.lo[k][j] = static_cast<std::int16_t>(*weight & kLowMask);
    }
    const auto constant = detail::ExactScaled(matrix[row][3], kConstantLimit);
    if (!constant) return std::nullopt;
    fixed.biasHi[k] = static_cast<std::int32_t>(*constant >> kExactLowBits);
    fixed.biasLo[k] = static_cast<std::int32_t>(*constant & kLowMask);
  }
  return fixed;
}

inline std::uint8_t SaturateToByte(std::int32_t value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

inline void TwistPixel(const std::uint8_t* src, std::uint8_t* dst, const FixedTwist& t) {
  const std::int32_t x0 = src[0];
  const std::int32_t x1 = src[1];
  const std::int32_t x2 = src[2];
  std::uint8_t out[3];
  for (int k = 0; k < 3; ++k) {
    const std::int32_t sum = t.weight[k][0] * x0 + t.weight[k][1] * x1 + t.weight[k][2] * x2 + t.bias[k];
    out[k] = SaturateToByte(sum >> t.shift);
  }
  dst[0] = out[0];
  dst[1] = out[1];
  dst[2] = out[2];
}

inline void ExactTwistPixel(const std::uint8_t* src, std::uint8_t* dst, const ExactFixedTwist& t) {
  const std::int32_t x0 = src[0];
  const std::int32_t x1 = src[1];
  const std::int32_t x2 = src[2];
  std::uint8_t out[3];
  for (int k = 0; k < 3; ++k) {
    const std::int32_t high = t.hi[k][0] * x0 + t.hi[k][1] * x1 + t.hi[k][2] * x2 + t.biasHi[k];
    const std::int32_t low = t.lo[k][0] * x0 + t.lo[k][1] * x1 + t.lo[k][2] * x2 + t.biasLo[k];
    out[k] = SaturateToByte((high + (low >> kExactLowBits)) >> (kExactFractionBits - kExactLowBits));
  }
  dst[0] = out[0];
  dst[1] = out[1];
  dst[2] = out[2];
}

}  // namespace colortwist
