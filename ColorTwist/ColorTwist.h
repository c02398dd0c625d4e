// Colour-twist operations on 4-byte pixels: every output byte k (0, 1, 2) is
// row k of a 3x4 matrix applied to input bytes 0, 1, 2 plus a constant, and
// byte 3 is left alone. Internal to the library; never exported.
#pragma once

#include <cstdint>

#include "FixedTwist.h"

namespace colortwist {

struct TwistSize {
  std::int32_t width;
  std::int32_t height;
};

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusSizeError = -6;
inline constexpr int kStatusNullPointer = -8;

// Rounded twist with a memory-order matrix, in fixed point (FixedTwist.h):
// results are rounded on a grid of 2^-10 or finer and saturated to 0..255,
// each within 0.88 of the exact value. Matrices without a fixed-point form
// are evaluated in double and rounded to nearest. Row r of an image starts
// at its pointer plus r * step; negative steps are walked the same way. A
// destination identical to the source gives the in-place result. Returns
// kStatusOk, or a negative status (and writes nothing) for a null pointer or
// a non-positive size.
int ColorTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep, TwistSize size,
               const float pTwist[3][4]);
int ColorTwistInPlace(std::uint8_t* pData, std::int32_t step, TwistSize size, const float pTwist[3][4]);
// The same with the fixed-point form already made (the library's own
// matrices have theirs made at compile time).
int ColorTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep, TwistSize size,
               const FixedTwist& twist);

// Exact masked twist with a component-order matrix (row i gives the i-th
// component, byte 2 - i, from bytes 2, 1, 0): only pixels whose mask byte is
// non-zero are written, each output is
//   ((m[i][0] * p2 + m[i][1] * p1) + m[i][2] * p0) + m[i][3]
// evaluated in double, truncated toward zero and clamped to 0..255 (a sum
// that is not a number gives 0). Mask row r starts at pMask + r * maskStep.
int MaskedTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep,
                const std::uint8_t* pMask, std::int32_t maskStep, TwistSize size, const double pMatrix[3][4]);
int MaskedTwist(const std::uint8_t* pSrc, std::int32_t srcStep, std::uint8_t* pDst, std::int32_t dstStep,
                const std::uint8_t* pMask, std::int32_t maskStep, TwistSize size, const ExactFixedTwist& twist);

}  // namespace colortwist
