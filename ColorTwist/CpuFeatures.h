// What the processor offers the kernels, read once with CPUID and XGETBV.
#pragma once

namespace colortwist {

struct CpuFeatures {
  bool sse2;
  // AVX2 instructions, and an operating system that saves the YMM registers.
  bool avx2;
};

// Asks the processor; cheap enough to call once, not on every image.
CpuFeatures DetectCpuFeatures();

}  // namespace colortwist
