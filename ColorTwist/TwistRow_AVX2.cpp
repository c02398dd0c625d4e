// AVX2 row kernels, eight pixels per group; the last few pixels of a row go
// through the portable per-pixel arithmetic. AVX2 is enabled on these
// functions only, never on the whole build.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TwistKernels.h"

#define COLORTWIST_TARGET __attribute__((target("avx2")))

namespace colortwist {
namespace {

struct Avx2 {
  using Reg = __m256i;
  // One 32-bit lane per pixel, all ones where the mask selects it.
  using Selection = __m256i;
  static constexpr int kPixels = 8;
  static constexpr int kBlockPixels = 32;
  static constexpr bool kPartialGroups = false;

  COLORTWIST_TARGET static Reg Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  COLORTWIST_TARGET static void Store(std::uint8_t* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  // Both streams are prefetched 1 KiB (32 groups) ahead, about as far as a
  // group takes to convert while memory delivers the next line; the hardware
  // prefetcher alone falls behind on three streams (the destination is read
  // for byte 3).
  COLORTWIST_TARGET static void PrefetchAhead(const std::uint8_t* p) {
    constexpr std::ptrdiff_t kPrefetchBytes = 1024;
    _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchBytes), _MM_HINT_T0);
  }

  COLORTWIST_TARGET static Reg Broadcast(std::int32_t value) { return _mm256_set1_epi32(value); }
  COLORTWIST_TARGET static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
  COLORTWIST_TARGET static Reg MaddAdd(Reg sum, Reg a, Reg b) { return _mm256_add_epi32(sum, _mm256_madd_epi16(a, b)); }
  COLORTWIST_TARGET static Reg Add(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
  COLORTWIST_TARGET static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
  template <int n>
  COLORTWIST_TARGET static Reg ShiftRight(Reg a) {
    return _mm256_srai_epi32(a, n);
  }
  COLORTWIST_TARGET static Reg Bytes01(Reg pixels) {
    return _mm256_shuffle_epi8(pixels, _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1,  //
                                                        0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1));
  }
  COLORTWIST_TARGET static Reg Byte2(Reg pixels) {
    return _mm256_shuffle_epi8(pixels,
                               _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1,  //
                                                2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1));
  }
  // Saturating packs to 16 and then 8 bits, then one shuffle into pixel
  // order. Every step stays within its 128-bit half, so pixels keep order.
  COLORTWIST_TARGET static Reg ToPixels(Reg out0, Reg out1, Reg out2) {
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(out0, out1), _mm256_packs_epi32(out2, out2));
    return _mm256_shuffle_epi8(bytes, _mm256_setr_epi8(0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1,  //
                                                       0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1));
  }
  COLORTWIST_TARGET static Reg KeepByte3(Reg converted, Reg previous) {
    return _mm256_blendv_epi8(converted, previous, _mm256_set1_epi32(static_cast<std::int32_t>(0xFF000000U)));
  }

  COLORTWIST_TARGET static Selection Selected(const std::uint8_t* mask) {
    const __m256i bytes = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask)));
    return _mm256_cmpgt_epi32(bytes, _mm256_setzero_si256());
  }
  COLORTWIST_TARGET static bool AnySelected(Selection selected) { return _mm256_testz_si256(selected, selected) == 0; }
  // A mixed group goes out lane by lane, each lane to its pixel or, when
  // unselected, to a scratch word, without a branch that random masks would
  // mispredict. On the AVX2 machine this was measured on, the AVX2 masked store
  // (vpmaskmovd) was slower: 10-20% with a random mask, and half the speed
  // when used for every group.
  COLORTWIST_TARGET static void StoreSelected(std::uint8_t* dst, Reg pixels, Selection selected) {
    const int lanesSelected = _mm256_movemask_ps(_mm256_castsi256_ps(selected));
    if (lanesSelected == 0xFF) {
      Store(dst, pixels);
      return;
    }
    alignas(32) std::int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), pixels);
    std::int32_t scratch = 0;
    for (std::ptrdiff_t lane = 0; lane < 8; ++lane) {
      const bool store = ((lanesSelected >> lane) & 1) != 0;
      std::uint8_t* where = store ? dst + 4 * lane : reinterpret_cast<std::uint8_t*>(&scratch);
      std::memcpy(where, &lanes[lane], 4);
    }
  }
  COLORTWIST_TARGET static bool IsUnselectedBlock(const std::uint8_t* mask) {
    const __m256i block = Load(mask);
    return _mm256_testz_si256(block, block) != 0;
  }
};

}  // namespace
}  // namespace colortwist

#include "GroupArithmetic.h"
#include "RowLoops.h"

COLORTWIST_ROW_KERNELS(AVX2, Avx2, )
