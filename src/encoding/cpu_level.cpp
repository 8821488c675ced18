// The processor's kernel level, asked once; the cap tests set is one relaxed atomic read per conversion.
#include "encoding/cpu_level.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ocelo {
namespace {

constexpr const char* kNames[] = {"scalar", "sse2", "avx2", "avx512"};

KernelLevel ProcessorLevel() {
#if defined(OCELO_X86_KERNELS)
  // The compiler's run-time check also asks the system whether it saves the wide registers.
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi2")) return KernelLevel::kSse2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi")) {
    return KernelLevel::kAvx512;
  }
  return KernelLevel::kAvx2;
#else
  return KernelLevel::kSse2;
#endif
}

KernelLevel DetectLevel() {
  KernelLevel level = ProcessorLevel();
  if (const char* wanted = std::getenv("OCELO_KERNELS")) {
    for (int k = 0; k < static_cast<int>(level); ++k) {
      if (std::strcmp(wanted, kNames[k]) == 0) return static_cast<KernelLevel>(k);
    }
  }
  return level;
}

// Above every level: no cap.
constexpr int kNoCap = 255;
std::atomic<int> cap{kNoCap};

}  // namespace

KernelLevel MachineKernelLevel() {
  static const KernelLevel level = DetectLevel();
  return level;
}

KernelLevel ActiveKernelLevel() {
  const int capped = cap.load(std::memory_order_relaxed);
  const KernelLevel machine = MachineKernelLevel();
  return capped < static_cast<int>(machine) ? static_cast<KernelLevel>(capped) : machine;
}

KernelLevel SetKernelLevelForTesting(KernelLevel level) {
  const KernelLevel before = ActiveKernelLevel();
  const bool lifted = static_cast<int>(level) >= static_cast<int>(MachineKernelLevel());
  cap.store(lifted ? kNoCap : static_cast<int>(level), std::memory_order_relaxed);
  return before;
}

const char* KernelLevelName(KernelLevel level) { return kNames[static_cast<int>(level)]; }

}  // namespace ocelo
