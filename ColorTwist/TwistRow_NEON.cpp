// NEON row kernels for 64-bit ARM, four pixels per group; the last few
// pixels of a row go through the portable per-pixel arithmetic. Every 64-bit
// ARM processor has NEON, so nothing is enabled per function.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "TwistKernels.h"

#define COLORTWIST_TARGET

namespace colortwist {
namespace {

struct Neon {
  using Reg = int32x4_t;
  // The group's four mask bytes as one word, byte n for pixel n: tested with
  // scalar instructions, which is what the lane stores need anyway.
  using Selection = std::uint32_t;
  static constexpr int kPixels = 4;
  static constexpr int kBlockPixels = 16;
  static constexpr bool kPartialGroups = false;

  static Reg Load(const std::uint8_t* p) { return vreinterpretq_s32_u8(vld1q_u8(p)); }
  static void Store(std::uint8_t* p, Reg v) { vst1q_u8(p, vreinterpretq_u8_s32(v)); }
  // No ARM hardware was at hand to measure a prefetch distance on; the
  // hardware prefetchers of current cores follow these streams.
  static void PrefetchAhead(const std::uint8_t* /*p*/) {}

  static Reg Broadcast(std::int32_t value) { return vdupq_n_s32(value); }
  // Both halves widened and multiplied, then adjacent products added.
  static Reg Madd(Reg a, Reg b) {
    const int16x8_t a16 = vreinterpretq_s16_s32(a);
    const int16x8_t b16 = vreinterpretq_s16_s32(b);
    return vpaddq_s32(vmull_s16(vget_low_s16(a16), vget_low_s16(b16)), vmull_high_s16(a16, b16));
  }
  static Reg MaddAdd(Reg sum, Reg a, Reg b) { return vaddq_s32(sum, Madd(a, b)); }
  static Reg Add(Reg a, Reg b) { return vaddq_s32(a, b); }
  static Reg Or(Reg a, Reg b) { return vorrq_s32(a, b); }
  template <int n>
  static Reg ShiftRight(Reg a) {
    return vshrq_n_s32(a, n);
  }
  // Table lookups: an index of 0xFF gives a zero byte.
  static Reg Bytes01(Reg pixels) {
    static constexpr std::uint8_t kPick[16] = {0, 0xFF, 1, 0xFF, 4,  0xFF, 5,  0xFF,
                                               8, 0xFF, 9, 0xFF, 12, 0xFF, 13, 0xFF};
    return Lookup(pixels, kPick);
  }
  static Reg Byte2(Reg pixels) {
    static constexpr std::uint8_t kPick[16] = {2,  0xFF, 0xFF, 0xFF, 6,  0xFF, 0xFF, 0xFF,
                                               10, 0xFF, 0xFF, 0xFF, 14, 0xFF, 0xFF, 0xFF};
    return Lookup(pixels, kPick);
  }
  // Saturating narrows to 16 and then 8 bits give the bytes of outputs 0, 1
  // and 2 in turn; one lookup puts them in pixel order, byte 3 zero.
  static Reg ToPixels(Reg out0, Reg out1, Reg out2) {
    const int16x8_t words01 = vqmovn_high_s32(vqmovn_s32(out0), out1);
    const int16x4_t words2 = vqmovn_s32(out2);
    const uint8x16_t bytes = vqmovun_high_s16(vqmovun_s16(words01), vcombine_s16(words2, words2));
    static constexpr std::uint8_t kOrder[16] = {0, 4, 8, 0xFF, 1, 5, 9, 0xFF, 2, 6, 10, 0xFF, 3, 7, 11, 0xFF};
    return vreinterpretq_s32_u8(vqtbl1q_u8(bytes, vld1q_u8(kOrder)));
  }
  static Reg KeepByte3(Reg converted, Reg previous) { return vbslq_s32(vdupq_n_u32(0xFF000000U), previous, converted); }

  static Selection Selected(const std::uint8_t* mask) {
    Selection four = 0;
    std::memcpy(&four, mask, sizeof four);
    return four;
  }
  static bool AnySelected(Selection selected) { return selected != 0; }
  // A wholly selected group is one store. NEON cannot store chosen lanes, so
  // a mixed group goes out lane by lane, each lane to its pixel or, when
  // unselected, to a scratch word, without a branch that random masks would
  // mispredict.
  static void StoreSelected(std::uint8_t* dst, Reg pixels, Selection selected) {
    if (!HasZeroByte(selected)) {
      Store(dst, pixels);
      return;
    }
    const uint32x4_t lanes = vreinterpretq_u32_s32(pixels);
    std::uint32_t scratch = 0;
    vst1q_lane_u32(Where(dst, 0, selected, &scratch), lanes, 0);
    vst1q_lane_u32(Where(dst, 1, selected, &scratch), lanes, 1);
    vst1q_lane_u32(Where(dst, 2, selected, &scratch), lanes, 2);
    vst1q_lane_u32(Where(dst, 3, selected, &scratch), lanes, 3);
  }
  static bool IsUnselectedBlock(const std::uint8_t* mask) { return vmaxvq_u8(vld1q_u8(mask)) == 0; }

 private:
  static Reg Lookup(Reg pixels, const std::uint8_t (&pick)[16]) {
    return vreinterpretq_s32_u8(vqtbl1q_u8(vreinterpretq_u8_s32(pixels), vld1q_u8(pick)));
  }
  static bool HasZeroByte(std::uint32_t word) { return ((word - 0x01010101U) & ~word & 0x80808080U) != 0; }
  static std::uint32_t* Where(std::uint8_t* dst, std::ptrdiff_t lane, Selection selected, std::uint32_t* scratch) {
    const bool store = ((selected >> (8 * lane)) & 0xFFU) != 0;
    return store ? reinterpret_cast<std::uint32_t*>(dst + 4 * lane) : scratch;
  }
};

}  // namespace
}  // namespace colortwist

#include "GroupArithmetic.h"
#include "RowLoops.h"

// flatten: GCC otherwise calls the group conversion once per group, which
// then reloads its constants from memory every time.
COLORTWIST_ROW_KERNELS(NEON, Neon, __attribute__((flatten)))
