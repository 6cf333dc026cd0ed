#pragma once
// Runs a program as a real child process, as the application does: an
// argument vector, never a shell.

#include <sys/mman.h>

#include <filesystem>

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

/// Runs `argv` with exactly the environment `env` ("NAME=value") and `input`
/// on its standard input; its output goes to memory files, which cannot fill up.
inline ToolRun runArgv(std::vector<std::string> argv, std::vector<std::string> env = {},
                       const std::string& input = "") {
  UniqueFd in(::memfd_create("in", MFD_CLOEXEC)), out(::memfd_create("out", MFD_CLOEXEC)),
      err(::memfd_create("err", MFD_CLOEXEC));
  auto named = [](const UniqueFd& fd) { return "/proc/self/fd/" + std::to_string(fd.get()); };
  writeFile(named(in), input);
  ToolRun run;
  Child child = Child::start({.argv = std::move(argv), .environment = std::move(env),
                              .in = in.get(), .out = out.get(), .err = err.get()});
  run.status = child.wait();
  run.out = readFile(named(out));
  run.err = readFile(named(err));
  return run;
}

/// The same for `program` with `args`.
inline ToolRun runTool(const std::string& program, std::vector<std::string> args,
                       std::vector<std::string> env = {}) {
  args.insert(args.begin(), program);
  return runArgv(std::move(args), std::move(env));
}

/// `tool` copied to `app`/Contents/`folder`/ beside the description file
/// `app`/Contents/Resources/Products/p.txt holding `description`, all root's,
/// as an installed bundle is: the root helpers trust what it names. The copy's path.
inline std::string bundled(const std::string& tool, const std::string& app, const std::string& folder,
                           const std::string& description) {
  namespace fs = std::filesystem;
  const std::string copy = app + "/Contents/" + folder + "/" + fs::path(tool).filename().string();
  fs::create_directories(fs::path(copy).parent_path());
  fs::copy_file(tool, copy, fs::copy_options::overwrite_existing);
  writeFile(app + "/Contents/Resources/Products/p.txt", description);
  return copy;
}

}  // namespace tavo::testing
