// Row kernels of the colour twists and the fixed-point forms they run on.
// Every kernel of one kind computes exactly the same integers, so all SIMD
// levels give bit-identical results to the portable kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace colortwist {

// Rounded twist in fixed point, memory order (row k gives byte k, column j
// weights byte j):
//   byte k = clamp((sum_j weight[k][j] * x_j + bias[k]) >> shift, 0, 255)
// bias holds the constant scaled by 2^shift plus half a unit, so the shift
// rounds to nearest with halves going up. Weights are 16-bit so that SIMD
// kernels can use 16x16->32 multiply-adds; shift is at least 10, which keeps
// the quantisation error below 0.38 and every result within one of the
// exact value.
struct FixedTwist {
  std::int16_t weight[3][3];
  std::int32_t bias[3];
  int shift;
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

// Empty when the matrix does not fit the fixed-point form (weights too large,
// constants too large or not finite); callers then use the double kernels.
std::optional<FixedTwist> MakeFixedTwist(const float (&twist)[3][4]);
// Takes a component-order matrix, returns the memory-order fixed form.
std::optional<ExactFixedTwist> MakeExactFixedTwist(const double (&matrix)[3][4]);

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

// One row of width pixels. Source and destination may be the same row.
using TwistRowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
using MaskedTwistRowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                  std::int32_t width, const ExactFixedTwist& twist);

void TwistRow_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                      const ExactFixedTwist& twist);

#if defined(__x86_64__) || defined(__i386__)
#define COLORTWIST_X86 1
void TwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                         const ExactFixedTwist& twist);
void TwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                         const ExactFixedTwist& twist);
#endif

// Matrices that have no fixed-point form: plain double evaluation, the same
// on every CPU. The rounded kernel takes a memory-order matrix and rounds to
// nearest (ties to even); the masked one takes a component-order matrix.
void TwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const double (&twist)[3][4]);
void MaskedTwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                            const double (&matrix)[3][4]);

}  // namespace colortwist
