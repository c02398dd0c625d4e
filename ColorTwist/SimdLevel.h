// Runtime choice of the row kernels.
#pragma once

#include "TwistKernels.h"

namespace colortwist {

enum class SimdLevel : int { kPortable = 0, kSSE2 = 1, kAVX2 = 2 };

struct RowKernels {
  TwistRowFn twist;
  MaskedTwistRowFn masked;
};

// The best level this CPU runs.
SimdLevel SupportedSimdLevel();
// The level whole-image calls use: the supported one, unless a test forced
// a lower one.
SimdLevel ActiveSimdLevel();
RowKernels KernelsFor(SimdLevel level);

// Test hook: makes later calls use the given level (never above the
// supported one) until reset. Not for use outside the tests.
void ForceSimdLevelForTesting(SimdLevel level);
void ResetSimdLevelForTesting();

}  // namespace colortwist
