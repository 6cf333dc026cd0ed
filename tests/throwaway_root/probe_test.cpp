// A root-level test body behind the guard; runner_test.sh runs it inside and
// outside the throwaway root and reads whether the body ran.
#include <cstdio>

#include "tests/support/throwaway_root.h"

TEST(ThrowawayRoot, RootLevelTestRunsOnlyInside) {
  TAVO_REQUIRE_THROWAWAY_ROOT();
  std::puts("root-level test body ran");
}
