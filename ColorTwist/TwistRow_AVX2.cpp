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
  // Shifts rather than a second shuffle: they run on more ports.
  return {_mm256_shuffle_epi8(pixels, toBytes01), _mm256_srli_epi32(_mm256_slli_epi32(pixels, 8), 24)};
}

// Saturates three lanes of results to bytes 0, 1, 2 of eight pixels (byte 3
// zero). All steps stay within 128-bit halves, so pixel order is kept.
COLORTWIST_AVX2 inline __m256i PackPixels(__m256i out0, __m256i out1, __m256i out2) {
  const __m256i toPixels = _mm256_setr_epi8(0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1,  //
                                            0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1);
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(out0, out1), _mm256_packs_epi32(out2, out2));
  return _mm256_shuffle_epi8(bytes, toPixels);
}

COLORTWIST_AVX2 inline __m256i KeepByte3(__m256i converted, __m256i previous) {
  return _mm256_or_si256(converted,
                         _mm256_and_si256(previous, _mm256_set1_epi32(static_cast<std::int32_t>(0xFF000000U))));
}

// A group of eight converted pixels and which of them the mask leaves out
// (bit per pixel).
struct Group {
  __m256i pixels;
  int unselected;
};

class Twister {
 public:
  COLORTWIST_AVX2 explicit Twister(const FixedTwist& twist) : shift_(_mm_cvtsi32_si128(twist.shift)) {
    for (int k = 0; k < 3; ++k) {
      weights01_[k] = PairWeights(twist.weight[k][0], twist.weight[k][1]);
      weights2_[k] = PairWeights(twist.weight[k][2], 0);
      bias_[k] = _mm256_set1_epi32(twist.bias[k]);
    }
  }

  COLORTWIST_AVX2 __m256i Convert(const std::uint8_t* src, const std::uint8_t* dst) const {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i previous = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
    const SplitPixels split = Split(pixels);
    __m256i out[3];
    for (int k = 0; k < 3; ++k) {
      const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(split.bytes01, weights01_[k]),
                                                            _mm256_madd_epi16(split.byte2, weights2_[k])),
                                           bias_[k]);
      out[k] = _mm256_sra_epi32(sum, shift_);
    }
    return KeepByte3(PackPixels(out[0], out[1], out[2]), previous);
  }

 private:
  __m256i weights01_[3];
  __m256i weights2_[3];
  __m256i bias_[3];
  __m128i shift_;
};

class ExactTwister {
 public:
  COLORTWIST_AVX2 explicit ExactTwister(const ExactFixedTwist& twist) {
    for (int k = 0; k < 3; ++k) {
      high01_[k] = PairWeights(twist.hi[k][0], twist.hi[k][1]);
      high2_[k] = PairWeights(twist.hi[k][2], 0);
      low01_[k] = PairWeights(twist.lo[k][0], twist.lo[k][1]);
      low2_[k] = PairWeights(twist.lo[k][2], 0);
      biasHigh_[k] = _mm256_set1_epi32(twist.biasHi[k]);
      biasLow_[k] = _mm256_set1_epi32(twist.biasLo[k]);
    }
  }

  COLORTWIST_AVX2 Group Convert(const std::uint8_t* src, const std::uint8_t* dst, const std::uint8_t* mask) const {
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask));
    const int unselected = _mm_movemask_epi8(_mm_cmpeq_epi8(eight, _mm_setzero_si128())) & 0xFF;
    if (unselected == 0xFF) return {_mm256_setzero_si256(), unselected};
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i previous = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst));
    const SplitPixels split = Split(pixels);
    __m256i out[3];
    for (int k = 0; k < 3; ++k) {
      const __m256i high = _mm256_add_epi32(
          _mm256_add_epi32(_mm256_madd_epi16(split.bytes01, high01_[k]), _mm256_madd_epi16(split.byte2, high2_[k])),
          biasHigh_[k]);
      const __m256i low = _mm256_add_epi32(
          _mm256_add_epi32(_mm256_madd_epi16(split.bytes01, low01_[k]), _mm256_madd_epi16(split.byte2, low2_[k])),
          biasLow_[k]);
      out[k] = _mm256_srai_epi32(_mm256_add_epi32(high, _mm256_srai_epi32(low, kExactLowBits)),
                                 kExactFractionBits - kExactLowBits);
    }
    return {KeepByte3(PackPixels(out[0], out[1], out[2]), previous), unselected};
  }

 private:
  __m256i high01_[3];
  __m256i high2_[3];
  __m256i low01_[3];
  __m256i low2_[3];
  __m256i biasHigh_[3];
  __m256i biasLow_[3];
};

// Stores the selected pixels of a group and nothing else: unselected pixels
// may belong to another thread. Each lane goes either to its pixel or to a
// scratch word, chosen without a branch, which random masks would mispredict.
COLORTWIST_AVX2 inline void StoreSelected(std::uint8_t* dst, const Group& group) {
  if (group.unselected == 0) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), group.pixels);
    return;
  }
  if (group.unselected == 0xFF) return;
  const __m128i low = _mm256_castsi256_si128(group.pixels);
  const __m128i high = _mm256_extracti128_si256(group.pixels, 1);
  const std::int32_t lanes[8] = {_mm_cvtsi128_si32(low),     _mm_extract_epi32(low, 1), _mm_extract_epi32(low, 2),
                                 _mm_extract_epi32(low, 3),  _mm_cvtsi128_si32(high),   _mm_extract_epi32(high, 1),
                                 _mm_extract_epi32(high, 2), _mm_extract_epi32(high, 3)};
  std::int32_t scratch = 0;
  for (std::ptrdiff_t lane = 0; lane < 8; ++lane) {
    const bool skip = ((group.unselected >> lane) & 1) != 0;
    std::uint8_t* where = skip ? reinterpret_cast<std::uint8_t*>(&scratch) : dst + 4 * lane;
    std::memcpy(where, &lanes[lane], 4);
  }
}

}  // namespace

// Both kernels prefetch source and destination (the destination is read for
// byte 3, and the hardware prefetcher alone falls behind on three streams),
// and convert several groups before storing any: with source and destination
// at the same offset within their pages, a store followed at once by the load
// of the next source group would stall on the apparent overlap.
COLORTWIST_AVX2 void TwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width,
                                   const FixedTwist& twist) {
  const Twister twister(twist);
  std::ptrdiff_t i = 0;
  for (; i + 16 <= width; i += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(dst + 4 * i + 1024), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(src + 4 * i + 1024), _MM_HINT_T0);
    const __m256i first = twister.Convert(src + 4 * i, dst + 4 * i);
    const __m256i second = twister.Convert(src + 4 * i + 32, dst + 4 * i + 32);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), first);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i + 32), second);
  }
  if (i + 8 <= width) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), twister.Convert(src + 4 * i, dst + 4 * i));
    i += 8;
  }
  for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
}

COLORTWIST_AVX2 void MaskedTwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                         std::int32_t width, const ExactFixedTwist& twist) {
  const ExactTwister twister(twist);
  std::ptrdiff_t i = 0;
  while (i + 8 <= width) {
    if (i + 32 <= width) {
      const __m256i thirtyTwo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + i));
      if (_mm256_testz_si256(thirtyTwo, thirtyTwo) != 0) {
        i += 32;
        continue;
      }
    }
    if (i + 32 <= width) {
      _mm_prefetch(reinterpret_cast<const char*>(dst + 4 * i + 1024), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(src + 4 * i + 1024), _MM_HINT_T0);
      Group groups[4];
      for (std::ptrdiff_t g = 0; g < 4; ++g)
        groups[g] = twister.Convert(src + 4 * i + 32 * g, dst + 4 * i + 32 * g, mask + i + 8 * g);
      for (std::ptrdiff_t g = 0; g < 4; ++g) StoreSelected(dst + 4 * i + 32 * g, groups[g]);
      i += 32;
    } else {
      StoreSelected(dst + 4 * i, twister.Convert(src + 4 * i, dst + 4 * i, mask + i));
      i += 8;
    }
  }
  for (; i < width; ++i) {
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
}

}  // namespace colortwist
#endif
