// The AVX-512 register wrappers of the row loops (RowLoops.h), for the two
// AVX-512 kernel sets: one built with the VNNI dot product and one without.
// Avx512Kernels.h includes it, COLORTWIST_TARGET already defined.
//
// Masks are opmask registers: a masked group is one store under a k-mask,
// whatever its mask, and the end of a row is one partial group, read and
// written under a k-mask (masked-off lanes are neither read nor written,
// and cannot fault).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#if !defined(COLORTWIST_TARGET)
#error "define COLORTWIST_TARGET before including Avx512Registers.h"
#endif

namespace colortwist {
namespace {

// Sixteen pixels per group in ZMM registers, chosen by measurement on a
// 2-core AVX-512 machine (F, BW, VL, VNNI) against the same loops on YMM registers with
// the AVX-512 masks and dot product (AVX512VL). RGB to YUV at 1920x1080,
// Mpix/s, ZMM against YMM, with VNNI: in place 4460 against 3789, full mask
// 2079 against 1306, half random mask 2150 against 983; without VNNI 3935
// against 2866, 1630 against 1344, 1969 against 1300. Sixteen pixels per
// group halve the instructions per pixel and the masked store costs the
// same at either width, so the wider registers win, most where masks are.
template <bool Vnni>
struct Avx512 {
  using Reg = __m512i;
  using Selection = __mmask16;
  static constexpr int kPixels = 16;
  static constexpr int kBlockPixels = 64;
  static constexpr bool kPartialGroups = true;
  static constexpr Selection kAllLanes = 0xFFFF;

  COLORTWIST_TARGET static Reg Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
  COLORTWIST_TARGET static void Store(std::uint8_t* p, Reg v) { _mm512_storeu_si512(p, v); }
  COLORTWIST_TARGET static Reg LoadFirst(const std::uint8_t* p, std::ptrdiff_t count) {
    return _mm512_maskz_loadu_epi32(FirstLanes(count), p);
  }
  // Two cache lines, 1 KiB ahead as in the AVX2 set. A step of the rounded
  // loops reads two lines of each stream (two groups), so all of them are
  // prefetched; a step of the masked loop reads four (a block of 64 pixels),
  // of which the first two are prefetched and the other two, like the mask,
  // are left to the hardware prefetcher.
  COLORTWIST_TARGET static void PrefetchAhead(const std::uint8_t* p) {
    constexpr std::ptrdiff_t kPrefetchBytes = 1024;
    _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchBytes), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchBytes + 64), _MM_HINT_T0);
  }

  COLORTWIST_TARGET static Reg Broadcast(std::int32_t value) { return _mm512_set1_epi32(value); }
  COLORTWIST_TARGET static Reg Madd(Reg a, Reg b) { return _mm512_madd_epi16(a, b); }
  COLORTWIST_TARGET static Reg MaddAdd(Reg sum, Reg a, Reg b) {
    if constexpr (Vnni) {
      return _mm512_dpwssd_epi32(sum, a, b);
    } else {
      return _mm512_add_epi32(sum, _mm512_madd_epi16(a, b));
    }
  }
  COLORTWIST_TARGET static Reg Add(Reg a, Reg b) { return _mm512_add_epi32(a, b); }
  COLORTWIST_TARGET static Reg Or(Reg a, Reg b) { return _mm512_or_si512(a, b); }
  // Zero-masked with every lane selected: the same instruction, and GCC 12's
  // plain form warns about the undefined register it starts from.
  template <int n>
  COLORTWIST_TARGET static Reg ShiftRight(Reg a) {
    return _mm512_maskz_srai_epi32(kAllLanes, a, n);
  }
  COLORTWIST_TARGET static Reg Bytes01(Reg pixels) {
    return _mm512_shuffle_epi8(pixels, PerLane(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1));
  }
  COLORTWIST_TARGET static Reg Byte2(Reg pixels) {
    return _mm512_shuffle_epi8(pixels, PerLane(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1));
  }
  // As in the AVX2 set: every step stays within its 128-bit lane.
  COLORTWIST_TARGET static Reg ToPixels(Reg out0, Reg out1, Reg out2) {
    const __m512i bytes = _mm512_packus_epi16(_mm512_packs_epi32(out0, out1), _mm512_packs_epi32(out2, out2));
    return _mm512_shuffle_epi8(bytes, PerLane(0, 4, 8, -1, 1, 5, 9, -1, 2, 6, 10, -1, 3, 7, 11, -1));
  }
  COLORTWIST_TARGET static Reg KeepByte3(Reg converted, Reg previous) {
    constexpr __mmask64 kByte3 = 0x8888888888888888ULL;
    return _mm512_mask_blend_epi8(kByte3, converted, previous);
  }

  COLORTWIST_TARGET static Selection Selected(const std::uint8_t* mask) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask));
    return _mm_test_epi8_mask(bytes, bytes);
  }
  COLORTWIST_TARGET static Selection FirstLanes(std::ptrdiff_t count) {
    return static_cast<Selection>((1U << count) - 1);
  }
  COLORTWIST_TARGET static Selection SelectedFirst(const std::uint8_t* mask, std::ptrdiff_t count) {
    const __m128i bytes = _mm_maskz_loadu_epi8(FirstLanes(count), mask);
    return _mm_test_epi8_mask(bytes, bytes);
  }
  COLORTWIST_TARGET static bool AnySelected(Selection selected) { return selected != 0; }
  COLORTWIST_TARGET static void StoreSelected(std::uint8_t* dst, Reg pixels, Selection selected) {
    _mm512_mask_storeu_epi32(dst, selected, pixels);
  }
  COLORTWIST_TARGET static bool IsUnselectedBlock(const std::uint8_t* mask) {
    const __m512i block = _mm512_loadu_si512(mask);
    return _mm512_test_epi8_mask(block, block) == 0;
  }

 private:
  // A 16-byte shuffle pattern repeated in every 128-bit lane.
  // All sixteen words spelt out: GCC 12 builds the shorter forms from a
  // broadcast that warns about the undefined register it starts from.
  COLORTWIST_TARGET static Reg PerLane(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9,
                                       int b10, int b11, int b12, int b13, int b14, int b15) {
    const std::int32_t w0 = Word(b0, b1, b2, b3);
    const std::int32_t w1 = Word(b4, b5, b6, b7);
    const std::int32_t w2 = Word(b8, b9, b10, b11);
    const std::int32_t w3 = Word(b12, b13, b14, b15);
    return _mm512_set_epi32(w3, w2, w1, w0, w3, w2, w1, w0, w3, w2, w1, w0, w3, w2, w1, w0);
  }
  static constexpr std::int32_t Word(int b0, int b1, int b2, int b3) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(b0) & 0xFFU) | ((static_cast<std::uint32_t>(b1) & 0xFFU) << 8) |
        ((static_cast<std::uint32_t>(b2) & 0xFFU) << 16) | ((static_cast<std::uint32_t>(b3) & 0xFFU) << 24));
  }
};

}  // namespace
}  // namespace colortwist
