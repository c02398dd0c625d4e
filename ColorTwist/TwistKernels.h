// Row kernels of the colour twists, the sets they come in, and the choice of
// a set for the processor at hand. Every kernel of one kind computes exactly
// the same integers (FixedTwist.h), so every set gives bit-identical results
// to the portable one.
#pragma once

#include <cstdint>

#include "CpuFeatures.h"
#include "FixedTwist.h"

namespace colortwist {

// One row of width pixels. Source and destination may be the same row.
using TwistRowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
using MaskedTwistRowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask,
                                  std::int32_t width, const ExactFixedTwist& twist);

void TwistRow_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                      const ExactFixedTwist& twist);

// COLORTWIST_X86 comes from the build, which compiles these files only for
// x86 targets.
#if defined(COLORTWIST_X86)
void TwistRow_AVX512VNNI(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_AVX512VNNI(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                               const ExactFixedTwist& twist);
void TwistRow_AVX512(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_AVX512(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                           const ExactFixedTwist& twist);
void TwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_SSE2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                         const ExactFixedTwist& twist);
void TwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_AVX2(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                         const ExactFixedTwist& twist);
#endif

// COLORTWIST_ARM64 likewise for 64-bit ARM (NEON), and COLORTWIST_SVE where
// the compiler also builds SVE code.
#if defined(COLORTWIST_ARM64)
void TwistRow_NEON(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_NEON(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                         const ExactFixedTwist& twist);
#endif
#if defined(COLORTWIST_SVE)
void TwistRow_SVE(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const FixedTwist& twist);
void MaskedTwistRow_SVE(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                        const ExactFixedTwist& twist);
#endif

// Matrices that have no fixed-point form: plain double evaluation, the same
// on every CPU. The rounded kernel takes a memory-order matrix and rounds to
// nearest (ties to even); the masked one takes a component-order matrix.
void TwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, const double (&twist)[3][4]);
void MaskedTwistRowDouble_C(const std::uint8_t* src, std::uint8_t* dst, const std::uint8_t* mask, std::int32_t width,
                            const double (&matrix)[3][4]);

struct KernelSet {
  const char* name;
  bool (*runsOn)(const CpuFeatures& cpu);
  TwistRowFn twist;
  MaskedTwistRowFn masked;
  // What a processor needs to run the set, in words for a log.
  const char* needs;
};

// Every set built in, best first; the last one, portable, runs anywhere.
// A new instruction set takes:
// - a file of its own, TwistRow_<Set>.cpp, defining its two row kernels
//   (declared above): for a set of fixed-width registers, a register
//   wrapper (RowLoops.h lists what it provides; AVX-512's two sets share
//   one, Avx512Registers.h) and COLORTWIST_ROW_KERNELS; SVE, whose
//   registers have no width known at compile time, writes its own loops;
// - a field in CpuFeatures (CpuFeatures.h) and its detection in
//   CpuFeatures.cpp, including whether the OS saves the set's registers;
// - that file in ColorTwist/CMakeLists.txt, for the processors that have
//   the set (with a compile check where a compiler may not build it), and
//   its macro (COLORTWIST_X86 and the like) around the declarations above;
// - one entry in the list in KernelSets.cpp, with its test of CpuFeatures.
// KernelTests then compares it with the portable set wherever it runs.
const KernelSet* KernelSets();
int KernelSetCount();

// The first set in that list that this processor runs, found once.
const KernelSet& BestKernelSet();
// What whole-image calls use: the best set, unless a test chose another.
const KernelSet& ActiveKernelSet();
bool RunsHere(const KernelSet& set);

// Test hook: later calls use set `index` of KernelSets() (ignored unless it
// runs here) until reset. Not for use outside the tests.
void UseKernelSetForTesting(int index);
void ResetKernelSetForTesting();

}  // namespace colortwist
