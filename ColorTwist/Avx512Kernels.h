// The one body of both AVX-512 kernel files. Each defines COLORTWIST_TARGET
// (its target attribute) and COLORTWIST_AVX512_VNNI (1 for the set with the
// VNNI dot product, 0 for the one without), then includes this file once.
#if !defined(COLORTWIST_TARGET) || !defined(COLORTWIST_AVX512_VNNI)
#error "define COLORTWIST_TARGET and COLORTWIST_AVX512_VNNI before including Avx512Kernels.h"
#endif

#include <cstdint>

#include "Avx512Registers.h"
#include "GroupArithmetic.h"
#include "RowLoops.h"
#include "TwistKernels.h"

#if COLORTWIST_AVX512_VNNI
COLORTWIST_ROW_KERNELS(AVX512VNNI, Avx512<true>, )
#else
COLORTWIST_ROW_KERNELS(AVX512, Avx512<false>, )
#endif
