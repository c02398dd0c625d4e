// Portable row kernels: the reference every SIMD kernel must match.
#include <cstring>

#include "ExactArithmetic.h"
#include "FloatMath.h"
#include "TwistKernels.h"

namespace colortwist {
namespace {

// Rounds to nearest, ties to even, and saturates; not-a-number gives 0.
std::uint8_t RoundToByte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<std::uint8_t>(RoundHalfEven(value));
}

}  // namespace

void TwistRow_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist) {
  for (std::ptrdiff_t i = 0; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
}

void MaskedTwistRow_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                      const ExactFixedTwist& twist) {
  std::ptrdiff_t i = 0;
  while (i < width) {
    // Eight unselected pixels at a time are skipped with one test.
    std::uint64_t eight = 0;
    if (i + 8 <= width) {
      std::memcpy(&eight, mask + i, sizeof eight);
      if (eight == 0) {
        i += 8;
        continue;
      }
    }
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
    ++i;
  }
}

void TwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const double (&twist)[3][4]) {
  for (std::ptrdiff_t i = 0; i < width; ++i) {
    const double x0 = src[4 * i];
    const double x1 = src[4 * i + 1];
    const double x2 = src[4 * i + 2];
    std::uint8_t out[3];
    for (int k = 0; k < 3; ++k) out[k] = RoundToByte(EvaluateRow(twist[k], x0, x1, x2));
    std::memcpy(dst + 4 * i, out, 3);
  }
}

void MaskedTwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                            const double (&matrix)[3][4]) {
  for (std::ptrdiff_t i = 0; i < width; ++i) {
    if (mask[i] == 0) continue;
    const double first = src[4 * i + 2];
    const double second = src[4 * i + 1];
    const double third = src[4 * i];
    const std::uint8_t a = TruncateToByte(EvaluateRow(matrix[0], first, second, third));
    const std::uint8_t b = TruncateToByte(EvaluateRow(matrix[1], first, second, third));
    const std::uint8_t c = TruncateToByte(EvaluateRow(matrix[2], first, second, third));
    dst[4 * i + 2] = a;
    dst[4 * i + 1] = b;
    dst[4 * i] = c;
  }
}

}  // namespace colortwist
