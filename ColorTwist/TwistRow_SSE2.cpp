// SSE2 row kernels, four pixels per step; the tail goes through the same
// per-pixel integer arithmetic as the portable kernels.
#include "TwistKernels.h"

#if defined(COLORTWIST_X86)
#include <immintrin.h>

#include <cstring>

#define COLORTWIST_SSE2 __attribute__((target("sse2")))

namespace colortwist {
namespace {

COLORTWIST_SSE2 inline __m128i PairWeights(std::int16_t low, std::int16_t high) {
  return _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(low)) |
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

// Splits pixels into 16-bit pairs (byte 0, byte 1) and (byte 2, 0) per lane,
// ready for 16x16->32 multiply-adds.
struct SplitPixels {
  __m128i bytes01;
  __m128i byte2;
};

COLORTWIST_SSE2 inline SplitPixels Split(__m128i pixels) {
  const __m128i lowByte = _mm_set1_epi32(0xFF);
  const __m128i secondByte = _mm_set1_epi32(0xFF00);
  return {_mm_or_si128(_mm_and_si128(pixels, lowByte), _mm_slli_epi32(_mm_and_si128(pixels, secondByte), 8)),
          _mm_srli_epi32(_mm_slli_epi32(pixels, 8), 24)};
}

// Saturates three lanes of results to bytes 0, 1, 2 of four pixels; byte 3
// comes out as zero.
COLORTWIST_SSE2 inline __m128i PackPixels(__m128i out0, __m128i out1, __m128i out2) {
  const __m128i words02 = _mm_packs_epi32(out0, out2);
  const __m128i words1 = _mm_packs_epi32(out1, _mm_setzero_si128());
  const __m128i interleaved01 = _mm_unpacklo_epi16(words02, words1);
  const __m128i interleaved2 = _mm_unpackhi_epi16(words02, words1);
  return _mm_packus_epi16(_mm_unpacklo_epi32(interleaved01, interleaved2),
                          _mm_unpackhi_epi32(interleaved01, interleaved2));
}

COLORTWIST_SSE2 inline __m128i KeepByte3(__m128i converted, __m128i previous) {
  return _mm_or_si128(converted, _mm_and_si128(previous, _mm_set1_epi32(static_cast<std::int32_t>(0xFF000000U))));
}

}  // namespace

COLORTWIST_SSE2 void TwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width,
                                   const FixedTwist& twist) {
  __m128i weights01[3];
  __m128i weights2[3];
  __m128i bias[3];
  for (int k = 0; k < 3; ++k) {
    weights01[k] = PairWeights(twist.weight[k][0], twist.weight[k][1]);
    weights2[k] = PairWeights(twist.weight[k][2], 0);
    bias[k] = _mm_set1_epi32(twist.bias[k]);
  }
  const __m128i shift = _mm_cvtsi32_si128(twist.shift);

  std::ptrdiff_t i = 0;
  for (; i + 4 <= width; i += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    const __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 4 * i));
    const SplitPixels split = Split(pixels);
    __m128i out[3];
    for (int k = 0; k < 3; ++k) {
      const __m128i sum = _mm_add_epi32(
          _mm_add_epi32(_mm_madd_epi16(split.bytes01, weights01[k]), _mm_madd_epi16(split.byte2, weights2[k])),
          bias[k]);
      out[k] = _mm_sra_epi32(sum, shift);
    }
    const __m128i result = KeepByte3(PackPixels(out[0], out[1], out[2]), previous);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), result);
  }
  for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
}

COLORTWIST_SSE2 void MaskedTwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                         std::int32_t width, const ExactFixedTwist& twist) {
  __m128i high01[3];
  __m128i high2[3];
  __m128i low01[3];
  __m128i low2[3];
  __m128i biasHigh[3];
  __m128i biasLow[3];
  for (int k = 0; k < 3; ++k) {
    high01[k] = PairWeights(twist.hi[k][0], twist.hi[k][1]);
    high2[k] = PairWeights(twist.hi[k][2], 0);
    low01[k] = PairWeights(twist.lo[k][0], twist.lo[k][1]);
    low2[k] = PairWeights(twist.lo[k][2], 0);
    biasHigh[k] = _mm_set1_epi32(twist.biasHi[k]);
    biasLow[k] = _mm_set1_epi32(twist.biasLo[k]);
  }
  const __m128i zero = _mm_setzero_si128();

  std::ptrdiff_t i = 0;
  while (i + 4 <= width) {
    if (i + 16 <= width) {
      const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, zero)) == 0xFFFF) {
        i += 16;
        continue;
      }
    }
    std::int32_t four = 0;
    std::memcpy(&four, mask + i, sizeof four);
    if (four != 0) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
      const __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 4 * i));
      const SplitPixels split = Split(pixels);
      __m128i out[3];
      for (int k = 0; k < 3; ++k) {
        const __m128i high = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(split.bytes01, high01[k]), _mm_madd_epi16(split.byte2, high2[k])),
            biasHigh[k]);
        const __m128i low = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(split.bytes01, low01[k]), _mm_madd_epi16(split.byte2, low2[k])), biasLow[k]);
        out[k] =
            _mm_srai_epi32(_mm_add_epi32(high, _mm_srai_epi32(low, kExactLowBits)), kExactFractionBits - kExactLowBits);
      }
      const __m128i converted = KeepByte3(PackPixels(out[0], out[1], out[2]), previous);
      const int unselected = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_cvtsi32_si128(four), zero)) & 0xF;
      if (unselected == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), converted);
      } else {
        // Unselected pixels are not stored at all: another thread may own them.
        alignas(16) std::uint8_t lanes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), converted);
        for (std::ptrdiff_t lane = 0; lane < 4; ++lane) {
          if ((unselected & (1 << lane)) == 0) std::memcpy(dst + 4 * (i + lane), lanes + 4 * lane, 3);
        }
      }
    }
    i += 4;
  }
  for (; i < width; ++i) {
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
}

}  // namespace colortwist
#endif
