// AVX2 row kernels, eight pixels per step; the tail goes through the same
// per-pixel integer arithmetic as the portable kernels. AVX2 is enabled on
// these functions only, never on the whole build.
#include "TwistKernels.h"

#if defined(COLORTWIST_X86)
#include <immintrin.h>

#include <cstring>

#define COLORTWIST_AVX2 __attribute__((target("avx2")))

namespace colortwist {
namespace {

COLORTWIST_AVX2 inline __m256i PairWeights(std::int16_t low, std::int16_t high) {
  return _mm256_set1_epi32(
      static_cast<std::int32_t>(static_cast<std::uint16_t>(low)) |
      static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

struct SplitPixels {
  __m256i bytes01;  // 16-bit pairs (byte 0, byte 1)
  __m256i byte2;    // 16-bit pairs (byte 2, 0)
};

COLORTWIST_AVX2 inline SplitPixels Split(__m256i pixels) {
  const __m256i toBytes01 = _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1,  //
                                             0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
  const __m256i toByte2 = _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1,  //
                                           2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  return {_mm256_shuffle_epi8(pixels, toBytes01), _mm256_shuffle_epi8(pixels, toByte2)};
}

// Saturates three lanes of results to bytes 0, 1, 2 of eight pixels (byte 3
// zero). All steps stay within 128-bit halves, so pixel order is kept.
COLORTWIST_AVX2 inline __m256i PackPixels(__m256i out0, __m256i out1, __m256i out2) {
  const __m256i words02 = _mm256_packs_epi32(out0, out2);
  const __m256i words1 = _mm256_packs_epi32(out1, _mm256_setzero_si256());
  const __m256i interleaved01 = _mm256_unpacklo_epi16(words02, words1);
  const __m256i interleaved2 = _mm256_unpackhi_epi16(words02, words1);
  return _mm256_packus_epi16(_mm256_unpacklo_epi32(interleaved01, interleaved2),
                             _mm256_unpackhi_epi32(interleaved01, interleaved2));
}

COLORTWIST_AVX2 inline __m256i KeepByte3(__m256i converted, __m256i previous) {
  return _mm256_or_si256(converted,
                         _mm256_and_si256(previous, _mm256_set1_epi32(static_cast<std::int32_t>(0xFF000000U))));
}

}  // namespace

COLORTWIST_AVX2 void TwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width,
                                   const FixedTwist& twist) {
  __m256i weights01[3];
  __m256i weights2[3];
  __m256i bias[3];
  for (int k = 0; k < 3; ++k) {
    weights01[k] = PairWeights(twist.weight[k][0], twist.weight[k][1]);
    weights2[k] = PairWeights(twist.weight[k][2], 0);
    bias[k] = _mm256_set1_epi32(twist.bias[k]);
  }
  const __m128i shift = _mm_cvtsi32_si128(twist.shift);

  std::int32_t i = 0;
  for (; i + 8 <= width; i += 8) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    const __m256i previous = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + 4 * i));
    const SplitPixels split = Split(pixels);
    __m256i out[3];
    for (int k = 0; k < 3; ++k) {
      const __m256i sum = _mm256_add_epi32(
          _mm256_add_epi32(_mm256_madd_epi16(split.bytes01, weights01[k]), _mm256_madd_epi16(split.byte2, weights2[k])),
          bias[k]);
      out[k] = _mm256_sra_epi32(sum, shift);
    }
    const __m256i result = KeepByte3(PackPixels(out[0], out[1], out[2]), previous);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), result);
  }
  for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
}

COLORTWIST_AVX2 void MaskedTwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                         std::int32_t width, const ExactFixedTwist& twist) {
  __m256i high01[3];
  __m256i high2[3];
  __m256i low01[3];
  __m256i low2[3];
  __m256i biasHigh[3];
  __m256i biasLow[3];
  for (int k = 0; k < 3; ++k) {
    high01[k] = PairWeights(twist.hi[k][0], twist.hi[k][1]);
    high2[k] = PairWeights(twist.hi[k][2], 0);
    low01[k] = PairWeights(twist.lo[k][0], twist.lo[k][1]);
    low2[k] = PairWeights(twist.lo[k][2], 0);
    biasHigh[k] = _mm256_set1_epi32(twist.biasHi[k]);
    biasLow[k] = _mm256_set1_epi32(twist.biasLo[k]);
  }

  std::int32_t i = 0;
  while (i + 8 <= width) {
    if (i + 32 <= width) {
      const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i));
      if (_mm256_testz_si256(thirtyTwo, thirtyTwo) != 0) {
        i += 32;
        continue;
      }
    }
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask + i));
    const int unselected = _mm_movemask_epi8(_mm_cmpeq_epi8(eight, _mm_setzero_si128())) & 0xFF;
    if (unselected != 0xFF) {
      const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
      const __m256i previous = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + 4 * i));
      const SplitPixels split = Split(pixels);
      __m256i out[3];
      for (int k = 0; k < 3; ++k) {
        const __m256i high = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(split.bytes01, high01[k]), _mm256_madd_epi16(split.byte2, high2[k])),
            biasHigh[k]);
        const __m256i low = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(split.bytes01, low01[k]), _mm256_madd_epi16(split.byte2, low2[k])),
            biasLow[k]);
        out[k] = _mm256_srai_epi32(_mm256_add_epi32(high, _mm256_srai_epi32(low, kExactLowBits)),
                                   kExactFractionBits - kExactLowBits);
      }
      const __m256i converted = KeepByte3(PackPixels(out[0], out[1], out[2]), previous);
      auto* target = reinterpret_cast<__m256i*>(dst + 4 * i);
      if (unselected == 0) {
        _mm256_storeu_si256(target, converted);
      } else {
        // Unselected pixels are not stored at all: another thread may own them.
        const __m256i selected = _mm256_xor_si256(
            _mm256_cmpeq_epi32(_mm256_cvtepu8_epi32(eight), _mm256_setzero_si256()), _mm256_set1_epi32(-1));
        _mm256_maskstore_epi32(reinterpret_cast<int*>(target), selected, converted);
      }
    }
    i += 8;
  }
  for (; i < width; ++i) {
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
}

}  // namespace colortwist
#endif
