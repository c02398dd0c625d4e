// AVX-512 row kernels without the dot product, for processors that lack VNNI (Skylake-SP class). AVX-512 is enabled on
// these functions only.
#define COLORTWIST_TARGET __attribute__((target("avx512f,avx512bw,avx512vl")))
#define COLORTWIST_AVX512_VNNI 0
#include "Avx512Kernels.h"
