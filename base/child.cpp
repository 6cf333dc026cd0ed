#include "base/child.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "base/unique_fd.h"

extern char** environ;

namespace tavo {
namespace {

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// In the child: only async-signal-safe calls until exec, since the parent
// may have other threads.
[[noreturn]] void execChild(const char* program, char* const* argv, char* const* envp,
                            const int streams[3], int errorPipe) {
  int devnull = ::open("/dev/null", O_RDWR);
  for (int target = 0; target < 3; ++target) {
    int from = streams[target] == kNullStream ? devnull : streams[target];
    if (from != kInheritStream) ::dup2(from, target);
  }
  // Nothing of ours but the three standard streams reaches the program.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  ::execve(program, argv, envp);
  int err = errno;
  [[maybe_unused]] ssize_t n = ::write(errorPipe, &err, sizeof err);
  ::_exit(127);
}

int exitStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

// A descriptor that becomes readable when the process ends; -1 on kernels
// without one. Called through syscall(2): the C library's header for it is
// not fit for C++ here.
int openPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

Child Child::start(const ChildSpec& spec, std::string* error) {
  Child child;
  auto fail = [&](const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return std::move(child);
  };
  if (spec.argv.empty() || spec.argv[0].empty()) return fail("no program", EINVAL);
  const std::string& program = spec.argv[0];
  int pair[2] = {-1, -1};
  if (spec.socket && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return fail("cannot make a stream for " + program, errno);
  UniqueFd ours(pair[0]), theirs(pair[1]);
  // A close-on-exec pipe tells a failed exec from a started program.
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return fail("cannot start " + program, errno);
  UniqueFd errorRead(errorPipe[0]), errorWrite(errorPipe[1]);
  const int streams[3] = {spec.socket ? theirs.get() : spec.in,
                          spec.socket ? theirs.get() : spec.out, spec.err};
  auto argv = cStrings(spec.argv);
  std::vector<char*> envp = spec.environment ? cStrings(*spec.environment) : std::vector<char*>();
  pid_t pid = ::fork();
  if (pid == 0)
    execChild(program.c_str(), argv.data(), spec.environment ? envp.data() : environ, streams,
              errorWrite.get());
  if (pid < 0) return fail("cannot start " + program, errno);
  errorWrite.reset();
  theirs.reset();
  child.pid_ = pid;
  int execError = 0;
  ssize_t n;
  do {
    n = ::read(errorRead.get(), &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  if (n != 0) {
    child.wait();
    child.status_ = -1;  // the 127 of a failed exec is no status of the program's
    return fail("cannot start " + program, n > 0 ? execError : errno);
  }
  child.stream_ = ours.release();
  return child;
}

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
  if (this == &other) return *this;
  closeStream();
  if (pid_ > 0) wait();
  pid_ = other.pid_;
  stream_ = other.stream_;
  status_ = other.status_;
  other.pid_ = -1;
  other.stream_ = -1;
  return *this;
}

Child::~Child() {
  closeStream();
  if (pid_ > 0) wait();
}

void Child::closeStream() {
  if (stream_ >= 0) ::close(stream_);
  stream_ = -1;
}

int Child::wait(rusage* usage) {
  if (pid_ <= 0) return status_;
  int raw = 0;
  pid_t got;
  do {
    got = ::wait4(pid_, &raw, 0, usage);
  } while (got < 0 && errno == EINTR);
  status_ = got == pid_ ? exitStatus(raw) : -1;
  pid_ = -1;
  return status_;
}

std::optional<int> Child::waitFor(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return status_;
  // A pidfd wakes us the moment the child ends; without one, short naps.
  UniqueFd pidfd(openPidFd(pid_));
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int raw = 0;
    pid_t got = ::waitpid(pid_, &raw, WNOHANG);
    if (got == pid_ || (got < 0 && errno != EINTR)) {
      status_ = got == pid_ ? exitStatus(raw) : -1;
      pid_ = -1;
      return status_;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (pidfd.valid()) {
      pollfd fd{pidfd.get(), POLLIN, 0};
      ::poll(&fd, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

std::optional<int> Child::waitUnless(const std::atomic<bool>& cancel,
                                     std::chrono::milliseconds grace) {
  while (!cancel) {
    if (auto status = waitFor(std::chrono::milliseconds(50))) return status;
  }
  terminate(grace);
  return std::nullopt;
}

void Child::terminate(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (waitFor(grace)) return;
  ::kill(pid_, SIGKILL);
  wait();
}

}  // namespace tavo
