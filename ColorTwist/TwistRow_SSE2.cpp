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
  // One bit per pixel, set where the mask selects it.
  using Selection = int;
  static constexpr int kPixels = 4;
  static constexpr int kBlockPixels = 16;
  static constexpr bool kPartialGroups = false;

  COLORTWIST_TARGET static Reg Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  COLORTWIST_TARGET static void Store(std::uint8_t* p, Reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  // Processors that have SSE2 and not AVX2 are the only ones to run this set;
  // its loops never prefetched, and nothing was measured to say they should.
  COLORTWIST_TARGET static void PrefetchAhead(const std::uint8_t* /*p*/) {}

  COLORTWIST_TARGET static Reg Broadcast(std::int32_t value) { return _mm_set1_epi32(value); }
  COLORTWIST_TARGET static Reg Madd(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
  COLORTWIST_TARGET static Reg MaddAdd(Reg sum, Reg a, Reg b) { return _mm_add_epi32(sum, _mm_madd_epi16(a, b)); }
  COLORTWIST_TARGET static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
  COLORTWIST_TARGET static Reg Add(Reg a, Reg b) { return _mm_add_epi32(a, b); }
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

  COLORTWIST_TARGET static Selection Selected(const std::uint8_t* mask) {
    std::int32_t four = 0;
    std::memcpy(&four, mask, sizeof four);
    return ~_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_cvtsi32_si128(four), _mm_setzero_si128())) & 0xF;
  }
  COLORTWIST_TARGET static bool AnySelected(Selection selected) { return selected != 0; }
  // A mixed group goes out three bytes per selected pixel.
  COLORTWIST_TARGET static void StoreSelected(std::uint8_t* dst, Reg pixels, Selection selected) {
    if (selected == 0xF) {
      Store(dst, pixels);
      return;
    }
    alignas(16) std::uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), pixels);
    for (std::ptrdiff_t lane = 0; lane < 4; ++lane) {
      if ((selected & (1 << lane)) != 0) std::memcpy(dst + 4 * lane, lanes + 4 * lane, 3);
    }
  }
  COLORTWIST_TARGET static bool IsUnselectedBlock(const std::uint8_t* mask) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(Load(mask), _mm_setzero_si128())) == 0xFFFF;
  }
};

}  // namespace
}  // namespace colortwist

#include "GroupArithmetic.h"
#include "RowLoops.h"

COLORTWIST_ROW_KERNELS(SSE2, Sse2, )
