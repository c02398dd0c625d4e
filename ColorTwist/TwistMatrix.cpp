#include <cstdint>
#include <optional>

#include "FloatMath.h"
#include "TwistKernels.h"

namespace colortwist {
namespace {

constexpr int kMaxShift = 14;
constexpr int kMinShift = 10;
constexpr double kMaxWeight = 32767.0;
constexpr double kMaxScaledBias = 1073741824.0;  // 2^30: leaves room for the products

std::optional<FixedTwist> FixedTwistWithShift(const float (&twist)[3][4], int shift) {
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
  return fixed;
}

// value * 2^27 as an integer, if it is one and lies within limit.
std::optional<std::int64_t> ExactScaled(double value, double limit) {
  const double scaled = TimesPowerOfTwo(value, kExactFractionBits);
  if (!(Abs(scaled) < limit) || scaled != Floor(scaled)) return std::nullopt;
  return static_cast<std::int64_t>(scaled);
}

}  // namespace

std::optional<FixedTwist> MakeFixedTwist(const float (&twist)[3][4]) {
  // The finest grain whose weights still fit 16 bits.
  for (int shift = kMaxShift; shift >= kMinShift; --shift) {
    if (auto fixed = FixedTwistWithShift(twist, shift)) return fixed;
  }
  return std::nullopt;
}

std::optional<ExactFixedTwist> MakeExactFixedTwist(const double (&matrix)[3][4]) {
  // Weights below 4 in magnitude keep hi within 16 bits; constants below
  // 2^16 keep the high partial sum within 32 bits.
  constexpr double kWeightLimit = 536870912.0;        // 4 * 2^27
  constexpr double kConstantLimit = 8796093022208.0;  // 2^16 * 2^27
  constexpr std::int64_t kLowMask = (std::int64_t{1} << kExactLowBits) - 1;
  ExactFixedTwist fixed{};
  for (int k = 0; k < 3; ++k) {
    const int row = 2 - k;  // byte k holds component 2 - k
    for (int j = 0; j < 3; ++j) {
      const auto weight = ExactScaled(matrix[row][2 - j], kWeightLimit);
      if (!weight) return std::nullopt;
      fixed.hi[k][j] = static_cast<std::int16_t>(*weight >> kExactLowBits);
      fixed.lo[k][j] = static_cast<std::int16_t>(*weight & kLowMask);
    }
    const auto constant = ExactScaled(matrix[row][3], kConstantLimit);
    if (!constant) return std::nullopt;
    fixed.biasHi[k] = static_cast<std::int32_t>(*constant >> kExactLowBits);
    fixed.biasLo[k] = static_cast<std::int32_t>(*constant & kLowMask);
  }
  return fixed;
}

}  // namespace colortwist
