// AVX-512 row kernels with the VNNI dot product (vpdpwssd): one instruction per multiply-add. AVX-512 is enabled on
// these functions only.
#define COLORTWIST_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni")))
#define COLORTWIST_AVX512_VNNI 1
#include "Avx512Kernels.h"
