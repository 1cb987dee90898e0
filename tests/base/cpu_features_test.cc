// The processor's features as CpuHas finds them with its few CPUID leaves,
// against the compiler's own detection: a wrong bit would run AVX-512 code
// where there is none, or never run it.
#include "base/cpu_features.h"

#include <gtest/gtest.h>

namespace quillmore {
namespace {

TEST(CpuHas, AgreesWithTheCompilersDetection) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  EXPECT_EQ(CpuHas(CpuFeature::kSsse3), __builtin_cpu_supports("ssse3") != 0);
  EXPECT_EQ(CpuHas(CpuFeature::kAvx2), __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(CpuHas(CpuFeature::kAvx512Bw),
            __builtin_cpu_supports("avx512bw") != 0);
#else
  EXPECT_FALSE(CpuHas(CpuFeature::kAvx2));
#endif
}

}  // namespace
}  // namespace quillmore
