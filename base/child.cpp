#include "base/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "base/as_user.h"
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

// The spawn's settings, released on every way out.
struct SpawnSettings {
  SpawnSettings() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

// The child's three standard streams, nothing else of ours, an empty signal
// mask and SIGPIPE at its default.
bool prepare(SpawnSettings& s, const int streams[3]) {
  for (int target = 0; target < 3; ++target) {
    int from = streams[target];
    int rc = from == kNullStream ? posix_spawn_file_actions_addopen(&s.actions, target,
                                                                     "/dev/null", O_RDWR, 0)
             : from == kInheritStream ? 0
                                      : posix_spawn_file_actions_adddup2(&s.actions, from, target);
    if (rc != 0) return false;
  }
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  return posix_spawn_file_actions_addclosefrom_np(&s.actions, 3) == 0 &&
         posix_spawnattr_setsigmask(&s.attributes, &none) == 0 &&
         posix_spawnattr_setsigdefault(&s.attributes, &defaults) == 0 &&
         posix_spawnattr_setflags(&s.attributes, flags) == 0;
}

int exitStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

// A descriptor that becomes readable when the process ends; -1 on kernels
// without one. Called through syscall(2): the C library's header for it is
// not fit for C++ here.
int openPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

}  // namespace

// Spawned, not forked: a fork would copy the page tables of a process that
// may hold a whole scan and make each of its pages copy-on-write until the
// program has started. A program that cannot be started is reported here.
Child Child::start(const ChildSpec& request, std::string* error) {
  Child child;
  auto fail = [&](const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return std::move(child);
  };
  if (request.argv.empty() || request.argv[0].empty()) return fail("no program", EINVAL);
  const std::string& program = request.argv[0];
  int pair[2] = {-1, -1};
  if (request.socket && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return fail("cannot make a stream for " + program, errno);
  UniqueFd ours(pair[0]), theirs(pair[1]);
  const int streams[3] = {request.socket ? theirs.get() : request.in,
                          request.socket ? theirs.get() : request.out, request.err};
  SpawnSettings settings;
  if (!prepare(settings, streams)) return fail("cannot start " + program, ENOMEM);
  auto argv = cStrings(request.argv);
  std::vector<char*> envp = request.environment ? cStrings(*request.environment) : std::vector<char*>();
  pid_t pid = -1;
  // Started with this process's own ids, even inside a user's scope.
  AsUser::Pause ownIds;
  int rc = ::posix_spawn(&pid, program.c_str(), &settings.actions, &settings.attributes,
                         argv.data(), request.environment ? envp.data() : environ);
  if (rc != 0) return fail("cannot start " + program, rc);
  child.pid_ = pid;
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
