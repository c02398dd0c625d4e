// The arithmetic of one group of pixels (one vector register's worth),
// written once for every instruction set. A kernel file defines
// COLORTWIST_TARGET (its target attribute) and a wrapper V of its registers,
// then includes this file once (and RowLoops.h after it): every function
// here is compiled for that instruction set, with internal linkage, so no
// other file can pick it up.
//
// V provides:
//   Reg                      the register type
//   Broadcast(int32)         every 32-bit lane set to a value
//   Madd(a, b)               16x16->32 multiply, adjacent pairs added
//   MaddAdd(sum, a, b)       sum + Madd(a, b), modulo 2^32 (one instruction
//                            where the processor has a dot product)
//   Add(a, b), Or(a, b)      32-bit lanes
//   ShiftRight<n>(a)         arithmetic, 32-bit lanes
//   Bytes01(pixels)          per pixel, 16-bit pair (byte 0, byte 1)
//   Byte2(pixels)            per pixel, 16-bit pair (byte 2, 0)
//   ToPixels(o0, o1, o2)     32-bit results saturated to bytes 0, 1, 2;
//                            byte 3 zero
//   KeepByte3(new, old)      new pixels with byte 3 taken from old
#if !defined(COLORTWIST_TARGET)
#error "define COLORTWIST_TARGET and the register wrapper before including GroupArithmetic.h"
#endif

#include <cstdint>

#include "FixedTwist.h"

namespace colortwist {
namespace {

// Both 16-bit halves of a 32-bit lane: low weights byte 0 (or 2), high
// weights byte 1 (or the constant lane).
constexpr std::int32_t WeightPair(std::int32_t low, std::int32_t high) {
  return static_cast<std::int32_t>(static_cast<std::uint16_t>(low) |
                                   (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

// The 32-bit lane that makes the pair (byte 2, 0) into (byte 2, scale).
constexpr std::int32_t ConstantLane(std::int32_t scale) { return WeightPair(0, scale); }

// Rounded twist: per output, two multiply-adds, the constant and a shift.
// When the matrix allows (every constant a 16-bit multiple of one power of
// two, as for the conversions from RGB), the constant rides in the second
// multiply-add: the pair (byte 2, 0) becomes (byte 2, scale), which costs one
// OR per group instead of three additions.
template <class V, int Shift, bool Folded>
class RoundedTwister {
  using Reg = typename V::Reg;

 public:
  COLORTWIST_TARGET explicit RoundedTwister(const FixedTwist& twist) {
    for (int k = 0; k < 3; ++k) {
      weights01_[k] = V::Broadcast(WeightPair(twist.weight[k][0], twist.weight[k][1]));
      const std::int32_t high = Folded ? twist.bias[k] / twist.foldScale : 0;
      weights2_[k] = V::Broadcast(WeightPair(twist.weight[k][2], high));
      bias_[k] = V::Broadcast(twist.bias[k]);
    }
    constantLane_ = V::Broadcast(ConstantLane(Folded ? twist.foldScale : 0));
  }

  // Bytes 0-2 converted, byte 3 zero.
  COLORTWIST_TARGET Reg Convert(Reg pixels) const {
    const Reg pairs01 = V::Bytes01(pixels);
    const Reg pairs2 = Folded ? V::Or(V::Byte2(pixels), constantLane_) : V::Byte2(pixels);
    return V::ToPixels(Output(0, pairs01, pairs2), Output(1, pairs01, pairs2), Output(2, pairs01, pairs2));
  }

 private:
  COLORTWIST_TARGET Reg Output(int k, Reg pairs01, Reg pairs2) const {
    const Reg first = Folded ? V::Madd(pairs01, weights01_[k]) : V::MaddAdd(bias_[k], pairs01, weights01_[k]);
    return V::template ShiftRight<Shift>(V::MaddAdd(first, pairs2, weights2_[k]));
  }

  Reg weights01_[3];
  Reg weights2_[3];
  Reg bias_[3];
  Reg constantLane_;
};

// Exact twist (FixedTwist.h): the high and low partial sums, each two
// multiply-adds; the low one's constant is below 2^14 and always rides in its
// second multiply-add.
template <class V>
class ExactTwister {
  using Reg = typename V::Reg;

 public:
  COLORTWIST_TARGET explicit ExactTwister(const ExactFixedTwist& twist) {
    for (int k = 0; k < 3; ++k) {
      high01_[k] = V::Broadcast(WeightPair(twist.hi[k][0], twist.hi[k][1]));
      high2_[k] = V::Broadcast(WeightPair(twist.hi[k][2], 0));  // ignores the constant lane
      low01_[k] = V::Broadcast(WeightPair(twist.lo[k][0], twist.lo[k][1]));
      low2_[k] = V::Broadcast(WeightPair(twist.lo[k][2], twist.biasLo[k]));
      biasHigh_[k] = V::Broadcast(twist.biasHi[k]);
    }
    constantLane_ = V::Broadcast(ConstantLane(1));
  }

  COLORTWIST_TARGET Reg Convert(Reg pixels) const {
    const Reg pairs01 = V::Bytes01(pixels);
    const Reg pairs2 = V::Or(V::Byte2(pixels), constantLane_);  // (byte 2, 1)
    return V::ToPixels(Output(0, pairs01, pairs2), Output(1, pairs01, pairs2), Output(2, pairs01, pairs2));
  }

 private:
  COLORTWIST_TARGET Reg Output(int k, Reg pairs01, Reg pairs2) const {
    const Reg high = V::MaddAdd(V::MaddAdd(biasHigh_[k], pairs01, high01_[k]), pairs2, high2_[k]);
    const Reg low = V::MaddAdd(V::Madd(pairs01, low01_[k]), pairs2, low2_[k]);
    return V::template ShiftRight<kExactFractionBits - kExactLowBits>(
        V::Add(high, V::template ShiftRight<kExactLowBits>(low)));
  }

  Reg high01_[3];
  Reg high2_[3];
  Reg low01_[3];
  Reg low2_[3];
  Reg biasHigh_[3];
  Reg constantLane_;
};

// Runs Body::template Run<Shift, Folded>(args...) for the twist's own shift
// and folding, so that both are compile-time constants inside the loop.
template <class Body, class... Args>
COLORTWIST_TARGET void WithRoundedForm(const FixedTwist& twist, Args... args) {
  const bool folded = twist.foldScale != 0;
  switch (twist.shift) {
    case 14:
      return folded ? Body::template Run<14, true>(twist, args...) : Body::template Run<14, false>(twist, args...);
    case 13:
      return folded ? Body::template Run<13, true>(twist, args...) : Body::template Run<13, false>(twist, args...);
    case 12:
      return folded ? Body::template Run<12, true>(twist, args...) : Body::template Run<12, false>(twist, args...);
    case 11:
      return folded ? Body::template Run<11, true>(twist, args...) : Body::template Run<11, false>(twist, args...);
    default:
      return folded ? Body::template Run<10, true>(twist, args...) : Body::template Run<10, false>(twist, args...);
  }
}

}  // namespace
}  // namespace colortwist
