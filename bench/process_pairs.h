#pragma once
// Whole processes timed in alternating pairs, so that both commands of a
// pair see the same machine, and the demo home the scan benchmarks lay out.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/child.h"

namespace tavo::bench {

/// A "--NAME NUMBER" option of a benchmark and the least number it takes.
struct NumberOption {
  const char* name;
  long* value;
  long least = 1;
};
/// A "--NAME" switch.
struct Switch {
  const char* name;
  bool* on;
};

/// Reads the command line into `numbers` and `switches`; false for an unknown
/// option, a missing number or one below its least.
inline bool parseOptions(int argc, char** argv, std::initializer_list<NumberOption> numbers,
                         std::initializer_list<Switch> switches = {}) {
  for (int i = 1; i < argc; ++i) {
    auto named = [&](const auto& o) { return std::strcmp(argv[i], o.name) == 0; };
    if (auto s = std::find_if(switches.begin(), switches.end(), named); s != switches.end()) {
      *s->on = true;
      continue;
    }
    auto n = std::find_if(numbers.begin(), numbers.end(), named);
    if (n == numbers.end() || i + 1 == argc) return false;
    *n->value = std::strtol(argv[++i], nullptr, 10);
    if (*n->value < n->least) return false;
  }
  return true;
}

struct Run {
  double ms = 0;
  long maxRssKb = 0;
  int status = -1;
};

/// Starts `request` and waits for it: its wall time, peak memory and status.
inline Run timed(const ChildSpec& request) {
  Run run;
  rusage usage{};
  auto start = std::chrono::steady_clock::now();
  Child child = Child::start(request);
  run.status = child.wait(&usage);
  run.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.maxRssKb = usage.ru_maxrss;
  return run;
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Pairs {
  double aMs = 0, bMs = 0;  // medians
  double ratio = 0;         // the median of the pairs' ratios a / b
  long aMaxRssKb = 0;
  bool ok = true;  // every run exited 0 (and `before` held)
};

/// `pairs` runs of `a` then `b`; `before`, when given, runs before each
/// process (dropping the page cache) and answers whether it could.
inline Pairs measurePairs(const ChildSpec& a, const ChildSpec& b, long pairs,
                          const std::function<bool()>& before = {}) {
  Pairs result;
  std::vector<double> aMs, bMs, ratios;
  for (long i = 0; i < pairs; ++i) {
    if (before && !before()) result.ok = false;
    Run ra = timed(a);
    if (before && !before()) result.ok = false;
    Run rb = timed(b);
    result.ok = result.ok && ra.status == 0 && rb.status == 0;
    aMs.push_back(ra.ms);
    bMs.push_back(rb.ms);
    ratios.push_back(ra.ms / rb.ms);
    result.aMaxRssKb = std::max(result.aMaxRssKb, ra.maxRssKb);
  }
  result.aMs = median(aMs);
  result.bMs = median(bMs);
  result.ratio = median(ratios);
  return result;
}

/// A new folder under $TMPDIR (else /tmp) for the benchmark's files; "" when
/// it cannot be made.
inline std::string makeBenchRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavo-bench-XXXXXX";
  return ::mkdtemp(root.data()) ? root : "";
}

/// The demo's home (scripts/demo-home) at `home`.
inline bool layOutDemoHome(const std::string& home) {
  Child layout = Child::start({.argv = {TAVO_SOURCE_DIR "/scripts/demo-home", home},
                               .err = kInheritStream});
  return layout.wait() == 0;
}

/// The machine's load, for the figures' record.
inline void printLoad() {
  double load[3] = {0, 0, 0};
  if (::getloadavg(load, 3) == 3)
    std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
}

}  // namespace tavo::bench
