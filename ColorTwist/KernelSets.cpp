#include "TwistKernels.h"

namespace colortwist {
namespace {

bool RunsAnywhere(const CpuFeatures& /*cpu*/) { return true; }

#if defined(COLORTWIST_X86)
bool HasAvx512Vnni(const CpuFeatures& cpu) { return cpu.avx512Vnni; }
bool HasAvx512(const CpuFeatures& cpu) { return cpu.avx512; }
bool HasAvx2(const CpuFeatures& cpu) { return cpu.avx2; }
bool HasSse2(const CpuFeatures& cpu) { return cpu.sse2; }
#endif
#if defined(COLORTWIST_ARM64)
bool HasNeon(const CpuFeatures& cpu) { return cpu.neon; }
#endif
#if defined(COLORTWIST_SVE)
bool HasSve(const CpuFeatures& cpu) { return cpu.sve; }
#endif

// Best first: the first entry the processor runs wins.
constexpr KernelSet kSets[] = {
#if defined(COLORTWIST_X86)
    {"AVX-512 VNNI", HasAvx512Vnni, TwistRow_AVX512VNNI, MaskedTwistRow_AVX512VNNI,
     "avx512f, avx512bw, avx512vl and avx512_vnni, with ZMM and opmask state saved by the OS"},
    {"AVX-512", HasAvx512, TwistRow_AVX512, MaskedTwistRow_AVX512,
     "avx512f, avx512bw and avx512vl, with ZMM and opmask state saved by the OS"},
    {"AVX2", HasAvx2, TwistRow_AVX2, MaskedTwistRow_AVX2, "avx2, with YMM state saved by the OS"},
    {"SSE2", HasSse2, TwistRow_SSE2, MaskedTwistRow_SSE2, "sse2"},
#endif
#if defined(COLORTWIST_SVE)
    {"SVE", HasSve, TwistRow_SVE, MaskedTwistRow_SVE, "sve, reported by the Linux kernel"},
#endif
#if defined(COLORTWIST_ARM64)
    {"NEON", HasNeon, TwistRow_NEON, MaskedTwistRow_NEON, "a 64-bit ARM processor"},
#endif
    {"portable", RunsAnywhere, TwistRow_C, MaskedTwistRow_C, "nothing"},
};
constexpr int kSetCount = static_cast<int>(sizeof kSets / sizeof kSets[0]);

// Both words are constant-initialised (no code runs at load, which matters
// for the Windows DLL that has no runtime to run it) and accessed with
// lock-free atomic builtins, so neither the first detection nor the test
// hook takes a lock; two threads that detect at once store the same value.
// The builtins rather than <atomic>: its headers do not build for the
// platform-ABI Windows target.
constexpr int kUnknown = -1;
int g_bestSet = kUnknown;
int g_forcedSet = kUnknown;
static_assert(__atomic_always_lock_free(sizeof(int), nullptr));

int LoadRelaxed(const int& word) { return __atomic_load_n(&word, __ATOMIC_RELAXED); }
void StoreRelaxed(int& word, int value) { __atomic_store_n(&word, value, __ATOMIC_RELAXED); }

int BestIndex() {
  int best = LoadRelaxed(g_bestSet);
  if (best == kUnknown) {
    const CpuFeatures cpu = DetectCpuFeatures();
    best = kSetCount - 1;
    for (int i = 0; i < kSetCount; ++i) {
      if (kSets[i].runsOn(cpu)) {
        best = i;
        break;
      }
    }
    StoreRelaxed(g_bestSet, best);
  }
  return best;
}

}  // namespace

const KernelSet* KernelSets() { return kSets; }
int KernelSetCount() { return kSetCount; }

const KernelSet& BestKernelSet() { return kSets[BestIndex()]; }

bool RunsHere(const KernelSet& set) { return set.runsOn(DetectCpuFeatures()); }

const KernelSet& ActiveKernelSet() {
  const int forced = LoadRelaxed(g_forcedSet);
  if (forced != kUnknown) return kSets[forced];
  return kSets[BestIndex()];
}

void UseKernelSetForTesting(int index) {
  if (index >= 0 && index < kSetCount && RunsHere(kSets[index])) StoreRelaxed(g_forcedSet, index);
}

void ResetKernelSetForTesting() { StoreRelaxed(g_forcedSet, kUnknown); }

}  // namespace colortwist
