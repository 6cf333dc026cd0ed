// The receipt test: an ordinary, awaited run of the package tool.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "core/uninstaller.h"

extern char** environ;

namespace tavo {
namespace {

// Spawn settings that free the child from this process's signal state and
// point its standard streams at /dev/null: its output must never mix with
// ours (tavo-scan prints a JSON document there) and it must not wait for
// input.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawnattr_init(&attr_);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attr_, &none);
    ::posix_spawnattr_setsigdefault(&attr_, &defaults);
    ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    ::posix_spawnattr_destroy(&attr_);
    ::posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

bool holdsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

bool Uninstaller::recpExists(const std::string& identifier) {
  const std::string& tool = _collaborators.packageTool;
  if (tool.empty() || holdsNul(tool) || holdsNul(identifier)) return false;
  std::string option = "--files";
  std::string program = tool;
  std::string argument = identifier;
  char* argv[] = {program.data(), option.data(), argument.data(), nullptr};
  SpawnSetup setup;
  pid_t pid = 0;
  if (::posix_spawn(&pid, tool.c_str(), setup.actions(), setup.attr(), argv, environ) != 0)
    return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tavo
