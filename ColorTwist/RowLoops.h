// The row loops of every SIMD kernel set of fixed-width registers, written
// once over the register wrapper V. A kernel file (or Avx512Kernels.h, for
// both AVX-512 sets) defines COLORTWIST_TARGET and V, includes
// GroupArithmetic.h and then this file, and defines its two row kernels,
// TwistRows<V>::Twist and TwistRows<V>::Masked under the names that
// TwistKernels.h declares, with COLORTWIST_ROW_KERNELS at the end of this
// file.
// Everything here is compiled for that instruction set, with internal
// linkage. Nothing here assumes a particular processor: the wrapper says how
// wide a group is, how to read a mask and how to store part of a group.
//
// Besides the arithmetic that GroupArithmetic.h lists, V provides:
//   kPixels                  pixels per group (one register of 4-byte pixels)
//   Load(p), Store(p, reg)   one group of pixels, unaligned
//   PrefetchAhead(p)         a hint to fetch what the loop reads a little
//                            after the group at p; may do nothing
//   Selection                which pixels of a group the mask selects
//   Selected(mask)           the Selection of kPixels mask bytes
//   AnySelected(selection)   whether it selects at least one pixel
//   StoreSelected(p, reg, selection)
//                            writes the selected pixels of the group at p
//                            and not one byte of the others: they may
//                            belong to another thread. A selected pixel's
//                            byte 3 may be written, with the value it held
//   kBlockPixels             pixels per mask block, a multiple of kPixels
//   IsUnselectedBlock(mask)  whether kBlockPixels mask bytes are all zero
// and, when kPartialGroups is true, groups of fewer pixels for the end of a
// row (otherwise those pixels go through the per-pixel arithmetic):
//   LoadFirst(p, n)          the first n pixels of a group (0 < n <
//                            kPixels); reads nothing beyond them
//   FirstLanes(n)            the Selection of the first n pixels
//   SelectedFirst(mask, n)   the Selection of n mask bytes, reading no more
#if !defined(COLORTWIST_TARGET)
#error "define COLORTWIST_TARGET and the register wrapper before including RowLoops.h"
#endif

#include <cstddef>
#include <cstdint>

#include "FixedTwist.h"

namespace colortwist {
namespace {

template <class V>
class TwistRows {
  using Reg = typename V::Reg;
  static constexpr std::ptrdiff_t kPixels = V::kPixels;
  static constexpr std::ptrdiff_t kGroupBytes = 4 * kPixels;
  static constexpr std::ptrdiff_t kBlockGroups = V::kBlockPixels / kPixels;
  static_assert(V::kBlockPixels % kPixels == 0);
  // Rows shorter than this go through the per-pixel arithmetic: building a
  // twister's constants costs about what three pixels one by one do (a 1x1
  // call measured 28-33 ns through one partial AVX-512 group, 14 ns
  // portable).
  static constexpr std::ptrdiff_t kShortestForGroups = V::kPartialGroups ? 4 : kPixels;

 public:
  static void Twist(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist) {
    WithRoundedForm<TwistRows>(twist, src, dst, width);
  }

  COLORTWIST_TARGET static void Masked(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                       std::int32_t width, const ExactFixedTwist& twist) {
    std::ptrdiff_t i = 0;
    if (width >= kShortestForGroups) i = MaskedGroups(src, dst, mask, width, twist);
    for (; i < width; ++i) {
      if (mask[i] != 0) ExactTwistPixel(src + 4 * i, dst + 4 * i, twist);
    }
  }

  // Called by WithRoundedForm with the shift and folding as constants.
  template <int Shift, bool Folded>
  COLORTWIST_TARGET static void Run(const FixedTwist& twist, const std::uint8_t* src, std::uint8_t* dst,
                                    std::int32_t width) {
    std::ptrdiff_t i = 0;
    if (width >= kShortestForGroups) i = RoundedGroups<Shift, Folded>(twist, src, dst, width);
    for (; i < width; ++i) TwistPixel(src + 4 * i, dst + 4 * i, twist);
  }

 private:
  // Rows are walked two groups at a time, both converted before either is
  // stored: with source and destination at the same offset within their
  // pages, a store followed at once by the next group's load would stall on
  // the apparent overlap. Returns the first pixel left.
  template <int Shift, bool Folded>
  COLORTWIST_TARGET static std::ptrdiff_t RoundedGroups(const FixedTwist& twist, const std::uint8_t* src,
                                                        std::uint8_t* dst, std::ptrdiff_t width) {
    const RoundedTwister<V, Shift, Folded> twister(twist);
    std::ptrdiff_t i = 0;
    if (src == dst) {
      // In place, the loaded pixels already hold byte 3.
      for (; i + 2 * kPixels <= width; i += 2 * kPixels) {
        std::uint8_t* const pixels = dst + 4 * i;
        V::PrefetchAhead(pixels);
        const Reg first = V::Load(pixels);
        const Reg second = V::Load(pixels + kGroupBytes);
        V::Store(pixels, V::KeepByte3(twister.Convert(first), first));
        V::Store(pixels + kGroupBytes, V::KeepByte3(twister.Convert(second), second));
      }
    } else {
      for (; i + 2 * kPixels <= width; i += 2 * kPixels) {
        V::PrefetchAhead(dst + 4 * i);
        V::PrefetchAhead(src + 4 * i);
        const Reg first = ConvertGroup(twister, src + 4 * i, dst + 4 * i);
        const Reg second = ConvertGroup(twister, src + 4 * i + kGroupBytes, dst + 4 * i + kGroupBytes);
        V::Store(dst + 4 * i, first);
        V::Store(dst + 4 * i + kGroupBytes, second);
      }
    }
    if (i + kPixels <= width) {
      V::Store(dst + 4 * i, ConvertGroup(twister, src + 4 * i, dst + 4 * i));
      i += kPixels;
    }
    if constexpr (V::kPartialGroups) {
      if (i < width) {
        const std::ptrdiff_t count = width - i;
        const Reg converted =
            V::KeepByte3(twister.Convert(V::LoadFirst(src + 4 * i, count)), V::LoadFirst(dst + 4 * i, count));
        V::StoreSelected(dst + 4 * i, converted, V::FirstLanes(count));
        i = width;
      }
    }
    return i;
  }

  // Blocks of kBlockPixels: an unselected block is skipped with one test;
  // the others convert all their groups before storing any (see the rounded
  // loop). Returns the first pixel left.
  COLORTWIST_TARGET static std::ptrdiff_t MaskedGroups(const std::uint8_t* src, std::uint8_t* dst,
                                                       const std::uint8_t* mask, std::ptrdiff_t width,
                                                       const ExactFixedTwist& twist) {
    // Unselected blocks at the start of the row are passed before the
    // constants are built: wholly unselected rows cost almost nothing.
    std::ptrdiff_t i = 0;
    while (i + V::kBlockPixels <= width && V::IsUnselectedBlock(mask + i)) i += V::kBlockPixels;
    if (i == width || (i + kPixels > width && !V::kPartialGroups)) return i;
    const ExactTwister<V> twister(twist);
    for (; i + V::kBlockPixels <= width; i += V::kBlockPixels) {
      if (V::IsUnselectedBlock(mask + i)) continue;
      V::PrefetchAhead(dst + 4 * i);
      V::PrefetchAhead(src + 4 * i);
      Reg converted[kBlockGroups];
      for (std::ptrdiff_t g = 0; g < kBlockGroups; ++g) {
        converted[g] = ConvertGroup(twister, src + 4 * i + kGroupBytes * g, dst + 4 * i + kGroupBytes * g);
      }
      for (std::ptrdiff_t g = 0; g < kBlockGroups; ++g) {
        V::StoreSelected(dst + 4 * i + kGroupBytes * g, converted[g], V::Selected(mask + i + kPixels * g));
      }
    }
    for (; i + kPixels <= width; i += kPixels) {
      const auto selected = V::Selected(mask + i);
      if (!V::AnySelected(selected)) continue;
      V::StoreSelected(dst + 4 * i, ConvertGroup(twister, src + 4 * i, dst + 4 * i), selected);
    }
    if constexpr (V::kPartialGroups) {
      if (i < width) {
        const std::ptrdiff_t count = width - i;
        const auto selected = V::SelectedFirst(mask + i, count);
        if (V::AnySelected(selected)) {
          const Reg converted =
              V::KeepByte3(twister.Convert(V::LoadFirst(src + 4 * i, count)), V::LoadFirst(dst + 4 * i, count));
          V::StoreSelected(dst + 4 * i, converted, selected);
        }
        i = width;
      }
    }
    return i;
  }

  // One group converted, byte 3 taken from the destination.
  template <class Twister>
  COLORTWIST_TARGET static Reg ConvertGroup(const Twister& twister, const std::uint8_t* src, const std::uint8_t* dst) {
    return V::KeepByte3(twister.Convert(V::Load(src)), V::Load(dst));
  }
};

}  // namespace
}  // namespace colortwist

// The set's two row kernels, TwistRow_<Set> and MaskedTwistRow_<Set>, over
// the register wrapper Registers, at file scope. Attributes (possibly none)
// go before each definition: the set's own, such as NEON's flatten. They
// cannot stand in parentheses, which the check asks of macro arguments.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define COLORTWIST_ROW_KERNELS(Set, Registers, Attributes)                                                   \
  namespace colortwist {                                                                                     \
  Attributes void TwistRow_##Set(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width,             \
                                 const FixedTwist& twist) {                                                  \
    TwistRows<Registers>::Twist(src, dst, width, twist);                                                     \
  }                                                                                                          \
  Attributes void MaskedTwistRow_##Set(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, \
                                       std::int32_t width, const ExactFixedTwist& twist) {                   \
    TwistRows<Registers>::Masked(src, dst, mask, width, twist);                                              \
  }                                                                                                          \
  }
// NOLINTEND(bugprone-macro-parentheses)
