#pragma once
// Runs a program as a real child process (an argument vector, never a shell)
// and lays out temporary folders for it.

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavo::test {

/// A folder made with mkdtemp under `parent`, removed with all it holds (links
/// are removed, never followed). Without it a test would lay out files under "/".
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp") : path_(parent + "/tavo-test-XXXXXX") {
    if (!mkdtemp(path_.data())) std::abort();
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::error_code ignored_;
};

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

struct ToolRun {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out, err;
};

/// Runs `program` with `args` and exactly the environment `env` ("NAME=value"),
/// never through a shell; its output goes to memory files, which cannot fill up.
inline ToolRun runTool(const std::string& program, std::vector<std::string> args,
                       std::vector<std::string> env = {}) {
  args.insert(args.begin(), program);
  std::vector<char*> argv, envp;
  for (std::string& s : args) argv.push_back(s.data());
  for (std::string& s : env) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
  const pid_t pid = out < 0 || err < 0 ? -1 : fork();
  if (pid == 0) {
    dup2(out, 1);
    dup2(err, 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(99);
  }
  ToolRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  run.out = readFile("/proc/self/fd/" + std::to_string(out));
  run.err = readFile("/proc/self/fd/" + std::to_string(err));
  close(out);
  close(err);
  return run;
}

}  // namespace tavo::test
