#include "CpuFeatures.h"

#include <cstdint>

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace colortwist {

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
namespace {

struct CpuidResult {
  std::uint32_t eax;
  std::uint32_t ebx;
  std::uint32_t ecx;
  std::uint32_t edx;
};

// Plain inline assembly works with every compiler the library is built with
// (GCC, MinGW-w64, clang for either Windows ABI), unlike the intrinsics,
// which differ between them.
CpuidResult Cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  CpuidResult r{};
  __asm__ __volatile__("cpuid" : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx) : "a"(leaf), "c"(subleaf));
  return r;
}

// Extended control register 0: which register states the OS saves.
std::uint64_t ReadXcr0() {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (std::uint64_t{high} << 32) | low;
}

constexpr std::uint32_t kSse2Bit = 1U << 26;                                 // leaf 1, EDX
constexpr std::uint32_t kOsxsaveBit = 1U << 27;                              // leaf 1, ECX
constexpr std::uint32_t kAvxBit = 1U << 28;                                  // leaf 1, ECX
constexpr std::uint32_t kAvx2Bit = 1U << 5;                                  // leaf 7, EBX
constexpr std::uint32_t kAvx512Bits = (1U << 16) | (1U << 30) | (1U << 31);  // leaf 7, EBX: F, BW, VL
constexpr std::uint32_t kAvx512VnniBit = 1U << 11;                           // leaf 7, ECX
constexpr std::uint64_t kSseAndAvxState = 0x6;                               // XCR0 bits 1 and 2
constexpr std::uint64_t kAvx512State = 0xE0;  // XCR0 bits 5-7: opmask, upper halves of ZMM0-15, ZMM16-31

}  // namespace

CpuFeatures DetectCpuFeatures() {
  CpuFeatures features{};
  const std::uint32_t maxLeaf = Cpuid(0, 0).eax;
  if (maxLeaf < 1) return features;
  const CpuidResult leaf1 = Cpuid(1, 0);
  features.sse2 = (leaf1.edx & kSse2Bit) != 0;
  // XGETBV exists only when OSXSAVE is set. The OS must save both the SSE
  // and the AVX halves of the YMM registers before AVX2 may be used, and the
  // opmask and both halves of the ZMM registers besides before AVX-512.
  if ((leaf1.ecx & kOsxsaveBit) == 0 || (leaf1.ecx & kAvxBit) == 0 || maxLeaf < 7) return features;
  const std::uint64_t osSaves = ReadXcr0();
  if ((osSaves & kSseAndAvxState) != kSseAndAvxState) return features;
  const CpuidResult leaf7 = Cpuid(7, 0);
  features.avx2 = (leaf7.ebx & kAvx2Bit) != 0;
  const bool osSavesZmm = (osSaves & kAvx512State) == kAvx512State;
  features.avx512 = features.avx2 && osSavesZmm && (leaf7.ebx & kAvx512Bits) == kAvx512Bits;
  features.avx512Vnni = features.avx512 && (leaf7.ecx & kAvx512VnniBit) != 0;
  return features;
}
#elif defined(__aarch64__) || defined(_M_ARM64)
CpuFeatures DetectCpuFeatures() {
  CpuFeatures features{};
  features.neon = true;
#if defined(__linux__) && defined(HWCAP_SVE)
  features.sve = (getauxval(AT_HWCAP) & HWCAP_SVE) != 0;
#endif
  return features;
}
#else
CpuFeatures DetectCpuFeatures() { return CpuFeatures{}; }
#endif

}  // namespace colortwist
