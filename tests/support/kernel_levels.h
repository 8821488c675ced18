// Tests of the fast converters at every kernel level: a fixture that caps the converters at the level
// its parameter names, skipped where the processor lacks it, and the instantiation over all levels.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "encoding/cpu_level.h"

namespace ocelo {

// Failure messages name the level.
inline void PrintTo(KernelLevel level, std::ostream* out) { *out << KernelLevelName(level); }

}  // namespace ocelo

namespace ocelo::test {

class KernelLevelTest : public ::testing::TestWithParam<KernelLevel> {
 protected:
  void SetUp() override {
    if (GetParam() > MachineKernelLevel()) GTEST_SKIP() << "no " << KernelLevelName(GetParam()) << " here";
    SetKernelLevelForTesting(GetParam());
  }
  void TearDown() override { SetKernelLevelForTesting(MachineKernelLevel()); }
};

inline std::string KernelLevelTestName(const ::testing::TestParamInfo<KernelLevel>& info) {
  return KernelLevelName(info.param);
}

}  // namespace ocelo::test

/// Runs the TEST_P cases of `suite` (a fixture derived from KernelLevelTest) once per kernel level.
#define OCELO_AT_EVERY_KERNEL_LEVEL(suite)                                                                \
  INSTANTIATE_TEST_SUITE_P(Levels, suite,                                                                 \
                           ::testing::Values(::ocelo::KernelLevel::kScalar, ::ocelo::KernelLevel::kSse2,  \
                                             ::ocelo::KernelLevel::kAvx2, ::ocelo::KernelLevel::kAvx512), \
                           ::ocelo::test::KernelLevelTestName)
