#pragma once
// Root-level tests start the real privileged tools; run anywhere but inside
// scripts/throwaway-root, a broken safety check could damage the machine.
// Such tests call TAVO_REQUIRE_THROWAWAY_ROOT() first and skip elsewhere.

#include <gtest/gtest.h>

#include "tests/support/throwaway_root_check.h"

/// Skips the calling test unless it runs as root inside the throwaway root.
#define TAVO_REQUIRE_THROWAWAY_ROOT()                                                  \
  do {                                                                                 \
    if (!::tavo::testing::insideThrowawayRoot())                                          \
      GTEST_SKIP() << "root-level test: runs only as root inside scripts/throwaway-root"; \
  } while (0)
