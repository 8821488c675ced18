// Which instruction sets the fast converters use: found once from the processor, capped for tests.
#pragma once

namespace ocelo {

/// The kernel levels in rising order; a level's kernels need the instruction sets of all levels below it.
/// kScalar runs the plain reference loops; kSse2 the baseline fast kernels (SSE2 on x86-64, their portable
/// form elsewhere); kAvx2 adds AVX2 and BMI2; kAvx512 adds AVX-512 F, BW, VL and VBMI.
enum class KernelLevel { kScalar, kSse2, kAvx2, kAvx512 };

/// The best level this processor and this build have. OCELO_KERNELS=scalar|sse2|avx2|avx512 in the
/// environment at the first call caps it (to compare levels, or to step around a suspected fault).
KernelLevel MachineKernelLevel();

/// The level the converters run at now: the machine's, or lower while a test caps it.
KernelLevel ActiveKernelLevel();

/// Caps the converters at `level` (never above the machine's) and returns the cap before; the
/// machine's own level lifts the cap. For tests and benchmarks that run every level in turn.
KernelLevel SetKernelLevelForTesting(KernelLevel level);

/// "scalar", "sse2", "avx2" or "avx512".
const char* KernelLevelName(KernelLevel level);

}  // namespace ocelo
