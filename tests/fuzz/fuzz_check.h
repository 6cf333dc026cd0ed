#pragma once
// What a fuzz target does when its oracle disagrees: say which property broke
// and abort, so that libFuzzer keeps the input and the replay test fails.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#define TAVO_FUZZ_CHECK(condition, what)                                               \
  do {                                                                                 \
    if (!(condition)) ::tavo::fuzzing::failed(__FILE__, __LINE__, #condition, (what)); \
  } while (0)

namespace tavo::fuzzing {

[[noreturn]] inline void failed(const char* file, int line, const char* condition,
                                std::string_view what) {
  std::fprintf(stderr, "%s:%d: oracle failed: %s (%.*s)\n", file, line, condition,
               static_cast<int>(what.size()), what.data());
  std::abort();
}

}  // namespace tavo::fuzzing
