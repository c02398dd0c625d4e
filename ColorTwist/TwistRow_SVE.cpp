// SVE row kernels for 64-bit ARM, one 32-bit lane per pixel, as many pixels
// per group as the processor's vector length holds (4 at 128 bits, 64 at
// 2048). Predicated loads and stores take the end of a row and the masked
// pixels as they come: a masked group is one store, and unselected pixels are
// never written. SVE is enabled on these functions only.
//
// The arithmetic is the per-pixel integer arithmetic of FixedTwist.h lane by
// lane, not the paired multiply-adds of GroupArithmetic.h: SVE registers have
// no size known at compile time, so they cannot be members of its twisters,
// and 32-bit multiply-accumulates need no pairing.
#include <arm_sve.h>

#include <cstddef>
#include <cstdint>

#include "TwistKernels.h"

#define COLORTWIST_SVE_TARGET __attribute__((target("+sve")))

namespace colortwist {
namespace {

COLORTWIST_SVE_TARGET inline svuint32_t LoadPixels(svbool_t lanes, const std::uint8_t* p) {
  return svld1_u32(lanes, reinterpret_cast<const std::uint32_t*>(p));
}

COLORTWIST_SVE_TARGET inline void StorePixels(svbool_t lanes, std::uint8_t* p, svuint32_t pixels) {
  svst1_u32(lanes, reinterpret_cast<std::uint32_t*>(p), pixels);
}

// Byte `byte` of every pixel as a signed 32-bit lane.
COLORTWIST_SVE_TARGET inline svint32_t Component(svuint32_t pixels, std::uint32_t byte) {
  const svbool_t all = svptrue_b32();
  return svreinterpret_s32_u32(svand_n_u32_x(all, svlsr_n_u32_x(all, pixels, 8 * byte), 0xFFU));
}

// sum_j weight[j] * x_j + bias, modulo 2^32 (the sums never exceed 31 bits).
COLORTWIST_SVE_TARGET inline svint32_t WeightedSum(const std::int16_t (&weight)[3], std::int32_t bias, svint32_t x0,
                                                   svint32_t x1, svint32_t x2) {
  const svbool_t all = svptrue_b32();
  svint32_t sum = svmla_n_s32_x(all, svdup_n_s32(bias), x0, weight[0]);
  sum = svmla_n_s32_x(all, sum, x1, weight[1]);
  return svmla_n_s32_x(all, sum, x2, weight[2]);
}

COLORTWIST_SVE_TARGET inline svuint32_t Saturated(svint32_t value) {
  const svbool_t all = svptrue_b32();
  return svreinterpret_u32_s32(svmin_n_s32_x(all, svmax_n_s32_x(all, value, 0), 255));
}

// Three outputs saturated to bytes 0-2, byte 3 from previous.
COLORTWIST_SVE_TARGET inline svuint32_t ToPixels(svint32_t out0, svint32_t out1, svint32_t out2, svuint32_t previous) {
  const svbool_t all = svptrue_b32();
  svuint32_t pixels = svand_n_u32_x(all, previous, 0xFF000000U);
  pixels = svorr_u32_x(all, pixels, Saturated(out0));
  pixels = svorr_u32_x(all, pixels, svlsl_n_u32_x(all, Saturated(out1), 8));
  return svorr_u32_x(all, pixels, svlsl_n_u32_x(all, Saturated(out2), 16));
}

COLORTWIST_SVE_TARGET inline svuint32_t Rounded(svuint32_t pixels, svuint32_t previous, const FixedTwist& twist) {
  const svbool_t all = svptrue_b32();
  const svint32_t x0 = Component(pixels, 0);
  const svint32_t x1 = Component(pixels, 1);
  const svint32_t x2 = Component(pixels, 2);
  const auto shift = static_cast<std::uint32_t>(twist.shift);
  return ToPixels(svasr_n_s32_x(all, WeightedSum(twist.weight[0], twist.bias[0], x0, x1, x2), shift),
                  svasr_n_s32_x(all, WeightedSum(twist.weight[1], twist.bias[1], x0, x1, x2), shift),
                  svasr_n_s32_x(all, WeightedSum(twist.weight[2], twist.bias[2], x0, x1, x2), shift), previous);
}

COLORTWIST_SVE_TARGET inline svint32_t ExactOutput(const ExactFixedTwist& twist, int k, svint32_t x0, svint32_t x1,
                                                   svint32_t x2) {
  const svbool_t all = svptrue_b32();
  const svint32_t high = WeightedSum(twist.hi[k], twist.biasHi[k], x0, x1, x2);
  const svint32_t low = WeightedSum(twist.lo[k], twist.biasLo[k], x0, x1, x2);
  return svasr_n_s32_x(all, svadd_s32_x(all, high, svasr_n_s32_x(all, low, kExactLowBits)),
                       kExactFractionBits - kExactLowBits);
}

COLORTWIST_SVE_TARGET inline svuint32_t Exact(svuint32_t pixels, svuint32_t previous, const ExactFixedTwist& twist) {
  const svint32_t x0 = Component(pixels, 0);
  const svint32_t x1 = Component(pixels, 1);
  const svint32_t x2 = Component(pixels, 2);
  return ToPixels(ExactOutput(twist, 0, x0, x1, x2), ExactOutput(twist, 1, x0, x1, x2),
                  ExactOutput(twist, 2, x0, x1, x2), previous);
}

}  // namespace

// Both row kernels work on a copy of the twist: the pixel stores could
// otherwise write the caller's copy, as far as the compiler knows, and every
// group would load the weights again.
COLORTWIST_SVE_TARGET void TwistRow_SVE(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width,
                                        const FixedTwist& callerTwist) {
  const FixedTwist twist = callerTwist;
  const auto lanes = static_cast<std::ptrdiff_t>(svcntw());
  for (std::ptrdiff_t i = 0; i < width; i += lanes) {
    const svbool_t inRow = svwhilelt_b32_s64(i, width);
    const svuint32_t pixels = LoadPixels(inRow, src + 4 * i);
    // In place, the loaded pixels already hold byte 3.
    const svuint32_t previous = src == dst ? pixels : LoadPixels(inRow, dst + 4 * i);
    StorePixels(inRow, dst + 4 * i, Rounded(pixels, previous, twist));
  }
}

COLORTWIST_SVE_TARGET void MaskedTwistRow_SVE(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                              std::int32_t width, const ExactFixedTwist& callerTwist) {
  const ExactFixedTwist twist = callerTwist;
  const auto lanes = static_cast<std::ptrdiff_t>(svcntw());
  for (std::ptrdiff_t i = 0; i < width; i += lanes) {
    const svbool_t inRow = svwhilelt_b32_s64(i, width);
    const svbool_t selected = svcmpne_n_u32(inRow, svld1ub_u32(inRow, mask + i), 0);
    if (!svptest_any(inRow, selected)) continue;
    // Only the selected pixels are read and written; the store puts back
    // byte 3 as it was.
    const svuint32_t pixels = LoadPixels(selected, src + 4 * i);
    const svuint32_t previous = LoadPixels(selected, dst + 4 * i);
    StorePixels(selected, dst + 4 * i, Exact(pixels, previous, twist));
  }
}

}  // namespace colortwist
