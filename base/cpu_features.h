// What the processor runs beyond the baseline, for the loops compiled for
// wider vectors (layout/unit_vector.h) and the byte shuffle of the line-break
// cut. Asked of the processor once, on the first question, with the three
// CPUID leaves it takes. The compiler's __builtin_cpu_supports asks a dozen
// leaves from a constructor at every start; in a virtual machine each CPUID
// exits to the hypervisor, and together they cost a 2 KB run about a tenth
// of a millisecond, a tenth of its time above a program that does nothing.
#ifndef QUILLMORE_BASE_CPU_FEATURES_H_
#define QUILLMORE_BASE_CPU_FEATURES_H_

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace quillmore {

enum class CpuFeature { kSsse3, kAvx2, kAvx512Bw };

namespace cpu_internal {

enum Bits : int { kKnown = 1, kSsse3 = 2, kAvx2 = 4, kAvx512Bw = 8 };

inline int DetectCpuFeatures() {
  int has = kKnown;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return has;
  if ((c & bit_SSSE3) != 0) has |= kSsse3;
  // The wider registers are usable only where the system saves them too.
  if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return has;
  unsigned saved = 0, saved_high = 0;
  __asm__("xgetbv" : "=a"(saved), "=d"(saved_high) : "c"(0));
  const bool ymm = (saved & 0x06) == 0x06;  // SSE and AVX state
  const bool zmm = (saved & 0xE6) == 0xE6;  // and the AVX-512 state
  if (!ymm || __get_cpuid_max(0, nullptr) < 7) return has;
  __cpuid_count(7, 0, a, b, c, d);
  if ((b & bit_AVX2) != 0) has |= kAvx2;
  if (zmm && (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0) {
    has |= kAvx512Bw;
  }
#endif
  return has;
}

// Constant-initialized, so no guard (and no C++ run-time library, which
// the filter does without) is needed to fill it on first use.
inline std::atomic<int> known_features{0};

}  // namespace cpu_internal

inline bool CpuHas(CpuFeature feature) {
  int has = cpu_internal::known_features.load(std::memory_order_relaxed);
  if (has == 0) {
    has = cpu_internal::DetectCpuFeatures();
    cpu_internal::known_features.store(has, std::memory_order_relaxed);
  }
  switch (feature) {
    case CpuFeature::kSsse3:
      return (has & cpu_internal::kSsse3) != 0;
    case CpuFeature::kAvx2:
      return (has & cpu_internal::kAvx2) != 0;
    case CpuFeature::kAvx512Bw:
      return (has & cpu_internal::kAvx512Bw) != 0;
  }
  return false;
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_CPU_FEATURES_H_
