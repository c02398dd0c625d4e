#include "SimdLevel.h"

#include <atomic>

namespace colortwist {
namespace {

// -1: nothing forced. A lock-free atomic, so the hook takes no lock.
std::atomic<int> g_forcedLevel{-1};

}  // namespace

SimdLevel SupportedSimdLevel() {
#if defined(COLORTWIST_X86)
  // __builtin_cpu_supports reads the feature bits libgcc collected once at
  // start-up; the AVX2 bit is only set when the OS saves the YMM state.
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAVX2;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::kSSE2;
#endif
  return SimdLevel::kPortable;
}

SimdLevel ActiveSimdLevel() {
  const SimdLevel supported = SupportedSimdLevel();
  const int forced = g_forcedLevel.load(std::memory_order_relaxed);
  if (forced >= 0 && forced < static_cast<int>(supported)) return static_cast<SimdLevel>(forced);
  return supported;
}

RowKernels KernelsFor(SimdLevel level) {
  switch (level) {
#if defined(COLORTWIST_X86)
    case SimdLevel::kAVX2:
      return {TwistRow_AVX2, MaskedTwistRow_AVX2};
    case SimdLevel::kSSE2:
      return {TwistRow_SSE2, MaskedTwistRow_SSE2};
#endif
    default:
      return {TwistRow_C, MaskedTwistRow_C};
  }
}

void ForceSimdLevelForTesting(SimdLevel level) {
  g_forcedLevel.store(static_cast<int>(level), std::memory_order_relaxed);
}

void ResetSimdLevelForTesting() { g_forcedLevel.store(-1, std::memory_order_relaxed); }

}  // namespace colortwist
