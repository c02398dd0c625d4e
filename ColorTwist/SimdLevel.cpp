#include "SimdLevel.h"

#include "CpuFeatures.h"

namespace colortwist {
namespace {

// Both words are constant-initialised (no code runs at load, which matters
// for the Windows DLL that has no runtime to run it) and accessed with
// lock-free atomic builtins, so neither the first detection nor the test
// hook takes a lock; two threads that detect at once store the same value.
// The builtins rather than <atomic>: its headers do not build for the
// platform-ABI Windows target.
constexpr int kUnknown = -1;
int g_supportedLevel = kUnknown;
int g_forcedLevel = kUnknown;
static_assert(__atomic_always_lock_free(sizeof(int), nullptr));

int LoadRelaxed(const int& word) { return __atomic_load_n(&word, __ATOMIC_RELAXED); }
void StoreRelaxed(int& word, int value) { __atomic_store_n(&word, value, __ATOMIC_RELAXED); }

SimdLevel LevelOf(const CpuFeatures& features) {
#if defined(COLORTWIST_X86)
  if (features.avx2) return SimdLevel::kAVX2;
  if (features.sse2) return SimdLevel::kSSE2;
#else
  (void)features;
#endif
  return SimdLevel::kPortable;
}

}  // namespace

SimdLevel SupportedSimdLevel() {
  int level = LoadRelaxed(g_supportedLevel);
  if (level == kUnknown) {
    level = static_cast<int>(LevelOf(DetectCpuFeatures()));
    StoreRelaxed(g_supportedLevel, level);
  }
  return static_cast<SimdLevel>(level);
}

SimdLevel ActiveSimdLevel() {
  const SimdLevel supported = SupportedSimdLevel();
  const int forced = LoadRelaxed(g_forcedLevel);
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

void ForceSimdLevelForTesting(SimdLevel level) { StoreRelaxed(g_forcedLevel, static_cast<int>(level)); }

void ResetSimdLevelForTesting() { StoreRelaxed(g_forcedLevel, kUnknown); }

}  // namespace colortwist
