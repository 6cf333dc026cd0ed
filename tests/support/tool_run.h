#pragma once
// Runs a program as a real child process, as the application does: an
// argument vector, never a shell.

#include <sys/mman.h>

#include <string>
#include <vector>

#include "base/child.h"
#include "base/unique_fd.h"
#include "tests/support/temp_dir.h"

namespace tavo::testing {

struct ToolRun {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out, err;
};

/// Runs `program` with `args` and exactly the environment `env`
/// ("NAME=value"); its output goes to memory files, which cannot fill up.
inline ToolRun runTool(const std::string& program, std::vector<std::string> args,
                       std::vector<std::string> env = {}) {
  args.insert(args.begin(), program);
  UniqueFd out(::memfd_create("out", MFD_CLOEXEC)), err(::memfd_create("err", MFD_CLOEXEC));
  ToolRun run;
  Child child = Child::start(
      {.argv = std::move(args), .environment = std::move(env), .out = out.get(), .err = err.get()});
  run.status = child.wait();
  run.out = readFile("/proc/self/fd/" + std::to_string(out.get()));
  run.err = readFile("/proc/self/fd/" + std::to_string(err.get()));
  return run;
}

}  // namespace tavo::testing
