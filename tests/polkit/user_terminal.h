#pragma once
// A program run as a given user on a pseudo-terminal that the test holds, as
// at a login: the test reads what it writes, counts the authentication
// requests polkit's terminal agent shows there, and answers each password
// prompt as told, like the user at that terminal.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <optional>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/unique_fd.h"
#include "tests/support/test_user.h"

namespace tavo::testing {

/// What the user at the terminal does when asked for a password.
enum class Reply { Password, WrongPassword, Dismiss };

class UserTerminal {
 public:
  UserTerminal() = default;
  UserTerminal(const UserTerminal&) = delete;
  UserTerminal& operator=(const UserTerminal&) = delete;
  ~UserTerminal() { stop(); }

  /// Starts `argv` as `user` with `env`, in a session of its own whose
  /// controlling terminal is a new pseudo-terminal. With `notifyFd`, its
  /// descriptor 3 is a pipe, and start waits until the program closes it (as
  /// pkttyagent --notify-fd 3 does once registered). "" when it runs, else why not.
  std::string start(const TestUser& user, const std::vector<std::string>& argv,
                    std::vector<std::string> env, bool notifyFd = false) {
    password_ = user.password;
    int master = -1, terminal = -1;
    if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return "openpty failed";
    master_.reset(master);
    UniqueFd slave(terminal);
    // The terminal is the user's, as a login would make it.
    if (::fchown(slave.get(), user.uid, user.gid) != 0) return "cannot give the terminal away";
    int notify[2];
    if (::pipe2(notify, O_CLOEXEC) != 0) return "pipe failed";
    UniqueFd registered(notify[0]), notifyEnd(notify[1]);
    std::vector<std::string> command = asUser(user, argv);
    std::vector<char*> args, envp;
    for (auto& a : command) args.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) return "fork failed";
    if (pid_ == 0) {
      ::close(master);
      if (::login_tty(slave.get()) != 0 || (notifyFd && ::dup2(notifyEnd.get(), 3) != 3)) ::_exit(127);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    slave.reset();
    notifyEnd.reset();
    if (!notifyFd) return "";
    pollfd fd{registered.get(), POLLIN, 0};
    char byte;
    bool closed = ::poll(&fd, 1, 10000) == 1 && ::read(registered.get(), &byte, 1) == 0;
    // A program that failed closes it too, by ending.
    if (!closed || ::waitpid(pid_, nullptr, WNOHANG) != 0) {
      serve(Reply::Dismiss);
      return argv[0] + " did not register: " + transcript();
    }
    return "";
  }

  /// Ends the program, if still running.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  /// The program's exit status once it has ended (-1 for a signal), else nullopt.
  std::optional<int> exited() {
    int raw = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &raw, WNOHANG) != pid_) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  /// The terminal's side the test reads, for poll(); -1 once the program has gone.
  int terminal() const { return master_.get(); }

  /// Reads what was written so far and answers each new password prompt with `reply`.
  void serve(Reply reply) {
    if (!master_.valid()) return;
    char buf[4096];
    for (;;) {
      pollfd fd{master_.get(), POLLIN, 0};
      if (::poll(&fd, 1, 0) != 1 || !(fd.revents & POLLIN)) break;
      ssize_t n = ::read(master_.get(), buf, sizeof buf);
      if (n <= 0) {  // the program has gone (a dismissal ends the agent)
        master_.reset();
        return;
      }
      seen_.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t at = seen_.find("Password: ", answeredUpTo_);
    if (at == std::string::npos) return;
    // The agent turns echo off, discarding what was typed before, and only
    // then reads: answer once it has.
    termios mode{};
    if (::tcgetattr(master_.get(), &mode) != 0 || (mode.c_lflag & ECHO)) return;
    answeredUpTo_ = at + 1;
    switch (reply) {
      case Reply::Password:
        writeAll(master_.get(), password_ + "\n");
        break;
      case Reply::WrongPassword:
        writeAll(master_.get(), "not the password\n");
        break;
      case Reply::Dismiss:
        writeAll(master_.get(), "\x03");  // Ctrl-C
        break;
    }
  }

  /// The actions polkit asked the agent to authenticate for, in order.
  std::vector<std::string> requests() const {
    const std::string header = "==== AUTHENTICATING FOR ";
    std::vector<std::string> actions;
    for (std::size_t at = 0; (at = seen_.find(header, at)) != std::string::npos;) {
      at += header.size();
      actions.push_back(seen_.substr(at, seen_.find(' ', at) - at));
    }
    return actions;
  }

  /// Everything written on the terminal.
  const std::string& transcript() const { return seen_; }

 private:
  pid_t pid_ = -1;
  UniqueFd master_;
  std::string seen_;
  std::size_t answeredUpTo_ = 0;
  std::string password_;
};

}  // namespace tavo::testing
