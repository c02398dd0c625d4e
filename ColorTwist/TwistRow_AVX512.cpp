// AVX-512 row kernels without the dot product, for processors that lack VNNI (Skylake-SP class). AVX-512 is enabled on
// these functions only.
#include <cstdint>

#include "TwistKernels.h"

#define COLORTWIST_TARGET __attribute__((target("avx512f,avx512bw,avx512vl")))

#include "Avx512Registers.h"
#include "GroupArithmetic.h"
#include "RowLoops.h"

namespace colortwist {

void TwistRow_AVX512(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist) {
  TwistRows<Avx512<false>>::Twist(src, dst, width, twist);
}

void MaskedTwistRow_AVX512(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                           const ExactFixedTwist& twist) {
  TwistRows<Avx512<false>>::Masked(src, dst, mask, width, twist);
}

}  // namespace colortwist
