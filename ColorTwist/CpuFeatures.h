// What the processor offers the kernels: on x86 read with CPUID and XGETBV,
// on 64-bit ARM Linux from the kernel's hardware capabilities.
#pragma once

namespace colortwist {

struct CpuFeatures {
  bool sse2;
  // AVX2 instructions, and an operating system that saves the YMM registers.
  bool avx2;
  // AVX-512 F, BW and VL, and an operating system that saves the opmask and
  // ZMM registers as well.
  bool avx512;
  // The AVX-512 dot products (VNNI), on top of avx512.
  bool avx512Vnni;
  // Every 64-bit ARM processor has NEON.
  bool neon;
  // SVE instructions, which the kernel reports only once it saves the
  // scalable registers.
  bool sve;
};

// Asks the processor; cheap enough to call once, not on every image.
CpuFeatures DetectCpuFeatures();

}  // namespace colortwist
