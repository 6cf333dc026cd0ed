#include "platform/child_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tavo {
namespace {

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// In the child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(const std::vector<char*>& argv, const std::vector<char*>& envp,
                            int childEnd, bool keepStderr, int errorPipe) {
  int devnull = ::open("/dev/null", O_RDWR);
  int io = childEnd >= 0 ? childEnd : devnull;
  ::dup2(io, 0);
  ::dup2(io, 1);
  if (!keepStderr) ::dup2(devnull, 2);
  // Nothing of ours but the three standard streams reaches the program.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execve(argv[0], argv.data(), envp.data());
  int err = errno;
  [[maybe_unused]] ssize_t n = ::write(errorPipe, &err, sizeof err);
  ::_exit(127);
}

}  // namespace

ChildProcess startChild(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        bool withStream, bool keepStderr) {
  ChildProcess child;
  if (argv.empty()) return child;
  int pair[2] = {-1, -1};
  if (withStream && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return child;
  // A close-on-exec pipe tells a failed exec from a started program.
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
    if (withStream) ::close(pair[0]), ::close(pair[1]);
    return child;
  }
  auto args = cStrings(argv);
  auto envp = cStrings(env);
  pid_t pid = ::fork();
  if (pid == 0) execChild(args, envp, withStream ? pair[1] : -1, keepStderr, errorPipe[1]);
  ::close(errorPipe[1]);
  if (withStream) ::close(pair[1]);
  int err = 0;
  ssize_t n = pid > 0 ? ::read(errorPipe[0], &err, sizeof err) : -1;
  ::close(errorPipe[0]);
  if (pid < 0 || n != 0) {
    if (pid > 0) waitChild(pid);
    if (withStream) ::close(pair[0]);
    return child;
  }
  child.pid = pid;
  child.stream = withStream ? pair[0] : -1;
  return child;
}

int waitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tavo
