// SSE2 row kernels, four pixels per group; the last few pixels of a row go
// through the portable per-pixel arithmetic.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TwistKernels.h"

#define COLORTWIST_TARGET __attribute__((target("sse2")))

namespace colortwist {
namespace {

// SSE2 has no byte shuffle: the pairs are cut out with masks and shifts.
struct Sse2 {
  using Reg = __m128i;

  COLORTWIST_TARGET static Reg Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  COLORTWIST_TARGET static void Store(std::uint8_t* p, Reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  COLORTWIST_TARGET static Reg Broadcast(std::int32_t value) { return _mm_set1_epi32(value); }
  COLORTWIST_TARGET static Reg Madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
  COLORTWIST_TARGET static Reg Add(Reg a, Reg b) { return _mm_add_epi32(a, b); }
  COLORTWIST_TARGET static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
  template <int n>
  COLORTWIST_TARGET static Reg ShiftRight(Reg a) {
    return _mm_srai_epi32(a, n);
  }
  COLORTWIST_TARGET static Reg Bytes01(Reg pixels) {
    return _mm_or_si128(_mm_and_si128(pixels, _mm_set1_epi32(0xFF)),
                        _mm_slli_epi32(_mm_and_si128(pixels, _mm_set1_epi32(0xFF00)), 8));
  }
  COLORTWIST_TARGET static Reg Byte2(Reg pixels) { return _mm_srli_epi32(_mm_slli_epi32(pixels, 8), 24); }
  COLORTWIST_TARGET static Reg ToPixels(Reg out0, Reg out1, Reg out2) {
    const __m128i words02 = _mm_packs_epi32(out0, out2);
    const __m128i words1 = _mm_packs_epi32(out1, _mm_setzero_si128());
    const __m128i interleaved01 = _mm_unpacklo_epi16(words02, words1);
    const __m128i interleaved2 = _mm_unpackhi_epi16(words02, words1);
    return _mm_packus_epi16(_mm_unpacklo_epi32(interleaved01, interleaved2),
                            _mm_unpackhi_epi32(interleaved01, interleaved2));
  }
  COLORTWIST_TARGET static Reg KeepByte3(Reg converted, Reg previous) {
    return _mm_or_si128(converted, _mm_and_si128(previous, _mm_set1_epi32(static_cast<std::int32_t>(0xFF000000U))));
  }
};

}  // namespace
}  // namespace colortwist

#include "GroupArithmetic.h"

namespace colortwist {
namespace {

struct TwistRowBody {
  template <int Shift, bool Folded>
  COLORTWIST_TARGET static void Run(const FixedTwist& twist, const std::uint8_t* src, std::uint8_t* dst,
                                    std::int32_t width) {
    std::ptrdiff_t i = 0;
    if (width >= 4) {
      const RoundedTwister<Sse2, Shift, Folded> twister(twist);
      for (; i + 4 <= width; i += 4) {
        const __m128i converted = twister.Convert(Sse2::Load(src + 4 * i));
        Sse2::Store(dst + 4 * i, Sse2::KeepByte3(converted, Sse2::Load(dst + 4 * i)));
      }
    }
    for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
};

// Stores bytes 0-2 of the selected pixels of a group and nothing else:
// unselected pixels may belong to another thread.
COLORTWIST_TARGET inline void StoreSelected(std::uint8_t* dst, __m128i pixels, int unselected) {
  if (unselected == 0) {
    Sse2::Store(dst, pixels);
    return;
  }
  alignas(16) std::uint8_t lanes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), pixels);
  for (std::ptrdiff_t lane = 0; lane < 4; ++lane) {
    if ((unselected & (1 << lane)) == 0) std::memcpy(dst + 4 * lane, lanes + 4 * lane, 3);
  }
}

COLORTWIST_TARGET inline bool IsUnselectedBlock(const std::uint8_t* mask) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(Sse2::Load(mask), _mm_setzero_si128())) == 0xFFFF;
}

// Returns the first pixel left.
COLORTWIST_TARGET std::ptrdiff_t MaskedGroups(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                              std::int32_t width, const ExactFixedTwist& twist) {
  // Unselected blocks at the start of the row are passed before the
  // constants are built: wholly unselected rows cost almost nothing.
  std::ptrdiff_t i = 0;
  while (i + 16 <= width && IsUnselectedBlock(mask + i)) i += 16;
  if (i + 4 > width) return i;
  const ExactTwister<Sse2> twister(twist);
  const __m128i zero = _mm_setzero_si128();
  while (i + 4 <= width) {
    // Sixteen unselected pixels at a time are skipped with one test.
    if (i + 16 <= width && IsUnselectedBlock(mask + i)) {
      i += 16;
      continue;
    }
    std::int32_t four = 0;
    std::memcpy(&four, mask + i, sizeof four);
    if (four != 0) {
      const __m128i converted = Sse2::KeepByte3(twister.Convert(Sse2::Load(src + 4 * i)), Sse2::Load(dst + 4 * i));
      StoreSelected(dst + 4 * i, converted, _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_cvtsi32_si128(four), zero)) & 0xF);
    }
    i += 4;
  }
  return i;
}

}  // namespace

void TwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist) {
  WithRoundedForm<TwistRowBody>(twist, src, dst, width);
}

COLORTWIST_TARGET void MaskedTwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                           std::int32_t width, const ExactFixedTwist& twist) {
  std::ptrdiff_t i = 0;
  if (width >= 4) i = MaskedGroups(src, dst, mask, width, twist);
  for (; i < width; ++i) {
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
}

}  // namespace colortwist
