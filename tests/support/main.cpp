// The test program's entry: the sandbox is set up before any test, so no test sees the real home folder.
#include <gtest/gtest.h>

#include "support/sandbox.h"

int main(int argc, char** argv) {
  ocelo::test::SandboxRoot();
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  ocelo::test::RemoveSandbox();
  return result;
}
