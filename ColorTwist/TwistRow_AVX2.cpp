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

  COLORTWIST_TARGET static Reg Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  COLORTWIST_TARGET static void Store(std::uint8_t* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  COLORTWIST_TARGET static Reg Broadcast(std::int32_t value) { return _mm256_set1_epi32(value); }
  COLORTWIST_TARGET static Reg Madd(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
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
};

}  // namespace
}  // namespace colortwist

#include "GroupArithmetic.h"

namespace colortwist {
namespace {

// Rows are walked two groups at a time, both converted before either is
// stored: with source and destination at the same offset within their
// pages, a store followed at once by the next group's load would stall on
// the apparent overlap. Both streams are prefetched 1 KiB (32 groups) ahead,
// about as far as a group takes to convert while memory delivers the next
// line; the hardware prefetcher alone falls behind on three streams (the
// destination is read for byte 3).
constexpr std::ptrdiff_t kPrefetchBytes = 1024;

COLORTWIST_TARGET inline void Prefetch(const std::uint8_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchBytes), _MM_HINT_T0);
}

struct TwistRowBody {
  template <int Shift, bool Folded>
  COLORTWIST_TARGET static void Run(const FixedTwist& twist, const std::uint8_t* src, std::uint8_t* dst,
                                    std::int32_t width) {
    std::ptrdiff_t i = 0;
    if (width >= 8) i = Groups<Shift, Folded>(twist, src, dst, width);
    for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
  }

  // Converts whole groups; returns the first pixel left.
  template <int Shift, bool Folded>
  COLORTWIST_TARGET static std::ptrdiff_t Groups(const FixedTwist& twist, const std::uint8_t* src, std::uint8_t* dst,
                                                 std::int32_t width) {
    const RoundedTwister<Avx2, Shift, Folded> twister(twist);
    std::ptrdiff_t i = 0;
    if (src == dst) {
      // In place, the loaded pixels already hold byte 3.
      for (; i + 16 <= width; i += 16) {
        Prefetch(dst + 4 * i);
        const __m256i first = Avx2::Load(dst + 4 * i);
        const __m256i second = Avx2::Load(dst + 4 * i + 32);
        Avx2::Store(dst + 4 * i, Avx2::KeepByte3(twister.Convert(first), first));
        Avx2::Store(dst + 4 * i + 32, Avx2::KeepByte3(twister.Convert(second), second));
      }
    } else {
      for (; i + 16 <= width; i += 16) {
        Prefetch(dst + 4 * i);
        Prefetch(src + 4 * i);
        const __m256i first = Avx2::KeepByte3(twister.Convert(Avx2::Load(src + 4 * i)), Avx2::Load(dst + 4 * i));
        const __m256i second =
            Avx2::KeepByte3(twister.Convert(Avx2::Load(src + 4 * i + 32)), Avx2::Load(dst + 4 * i + 32));
        Avx2::Store(dst + 4 * i, first);
        Avx2::Store(dst + 4 * i + 32, second);
      }
    }
    if (i + 8 <= width) {
      Avx2::Store(dst + 4 * i, Avx2::KeepByte3(twister.Convert(Avx2::Load(src + 4 * i)), Avx2::Load(dst + 4 * i)));
      i += 8;
    }
    return i;
  }
};

COLORTWIST_TARGET inline bool IsUnselectedBlock(const std::uint8_t* mask) {
  const __m256i block = Avx2::Load(mask);
  return _mm256_testz_si256(block, block) != 0;
}

// One 32-bit lane per pixel, all ones where the mask selects it.
COLORTWIST_TARGET inline __m256i SelectedLanes(const std::uint8_t* mask) {
  const __m256i bytes = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask)));
  return _mm256_cmpgt_epi32(bytes, _mm256_setzero_si256());
}

// Stores the selected pixels of a group and nothing else: unselected pixels
// may belong to another thread. A mixed group goes out lane by lane, each
// lane to its pixel or, when unselected, to a scratch word, without a branch
// that random masks would mispredict. On the Zen 3 this was measured on, the
// AVX2 masked store (vpmaskmovd) was slower: 10-20% with a random mask, and
// half the speed when used for every group.
COLORTWIST_TARGET inline void StoreSelected(std::uint8_t* dst, __m256i pixels, __m256i selected) {
  const int lanesSelected = _mm256_movemask_ps(_mm256_castsi256_ps(selected));
  if (lanesSelected == 0xFF) {
    Avx2::Store(dst, pixels);
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

COLORTWIST_TARGET inline __m256i ConvertGroup(const ExactTwister<Avx2>& twister, const std::uint8_t* src,
                                              const std::uint8_t* dst) {
  return Avx2::KeepByte3(twister.Convert(Avx2::Load(src)), Avx2::Load(dst));
}

// Blocks of 32 pixels: an unselected block is skipped with one test; the
// others convert four groups before storing any (see the rounded kernel).
// Returns the first pixel left.
COLORTWIST_TARGET std::ptrdiff_t MaskedGroups(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                              std::int32_t width, const ExactFixedTwist& twist) {
  // Unselected blocks at the start of the row are passed before the
  // constants are built: wholly unselected rows cost almost nothing.
  std::ptrdiff_t i = 0;
  while (i + 32 <= width && IsUnselectedBlock(mask + i)) i += 32;
  if (i + 8 > width) return i;
  const ExactTwister<Avx2> twister(twist);
  for (; i + 32 <= width; i += 32) {
    if (IsUnselectedBlock(mask + i)) continue;
    Prefetch(dst + 4 * i);
    Prefetch(src + 4 * i);
    __m256i converted[4];
    for (std::ptrdiff_t g = 0; g < 4; ++g)
      converted[g] = ConvertGroup(twister, src + 4 * i + 32 * g, dst + 4 * i + 32 * g);
    for (std::ptrdiff_t g = 0; g < 4; ++g)
      StoreSelected(dst + 4 * i + 32 * g, converted[g], SelectedLanes(mask + i + 8 * g));
  }
  for (; i + 8 <= width; i += 8) {
    const __m256i selected = SelectedLanes(mask + i);
    if (_mm256_testz_si256(selected, selected) != 0) continue;
    StoreSelected(dst + 4 * i, ConvertGroup(twister, src + 4 * i, dst + 4 * i), selected);
  }
  return i;
}

}  // namespace

void TwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist) {
  WithRoundedForm<TwistRowBody>(twist, src, dst, width);
}

COLORTWIST_TARGET void MaskedTwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                           std::int32_t width, const ExactFixedTwist& twist) {
  std::ptrdiff_t i = 0;
  if (width >= 8) i = MaskedGroups(src, dst, mask, width, twist);
  for (; i < width; ++i) {
    if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
  }
}

}  // namespace colortwist
