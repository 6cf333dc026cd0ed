#pragma once
// polkit's terminal authentication agent (pkttyagent) for one process, run as
// a given user on a pseudo-terminal that the test holds: it counts the
// authentication requests polkit makes and answers each password prompt as
// told, like a user at that terminal.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/io.h"
#include "base/unique_fd.h"

namespace tavo::testing {

/// What the user at the agent's terminal does when asked for a password.
enum class Reply { Password, WrongPassword, Dismiss };

/// A plain user account, as the tests need it.
struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
  std::string password;
};

class TtyAgent {
 public:
  TtyAgent() = default;
  TtyAgent(const TtyAgent&) = delete;
  TtyAgent& operator=(const TtyAgent&) = delete;
  ~TtyAgent() { stop(); }

  /// Starts pkttyagent for process `subject` as `account` on a new
  /// pseudo-terminal and waits until polkit has registered it; "" when it
  /// runs, else why not.
  std::string start(pid_t subject, const Account& account) {
    password_ = account.password;
    int master = -1, terminal = -1;
    if (::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return "openpty failed";
    master_.reset(master);
    UniqueFd slave(terminal);
    // The terminal is the user's, as a login would make it.
    if (::fchown(slave.get(), account.uid, account.gid) != 0)
      return "cannot give the terminal away";
    int notify[2];
    if (::pipe2(notify, O_CLOEXEC) != 0) return "pipe failed";
    UniqueFd registered(notify[0]), notifyEnd(notify[1]);
    std::vector<std::string> args{"/usr/bin/setpriv",
                                  "--reuid=" + std::to_string(account.uid),
                                  "--regid=" + std::to_string(account.gid),
                                  "--init-groups",
                                  "--",
                                  "/usr/bin/pkttyagent",
                                  "--process",
                                  std::to_string(subject),
                                  "--notify-fd",
                                  "3"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + account.home, path = "PATH=/usr/bin:/bin";
    char* envp[] = {home.data(), path.data(), const_cast<char*>("TERM=dumb"), nullptr};
    pid_ = ::fork();
    if (pid_ < 0) return "fork failed";
    if (pid_ == 0) {
      // A new session whose controlling terminal is ours: pkttyagent asks
      // there. Descriptor 3 is closed by it once polkit has registered it.
      ::close(master);
      if (::login_tty(slave.get()) != 0 || ::dup2(notifyEnd.get(), 3) != 3) ::_exit(127);
      ::execve(argv[0], argv.data(), envp);
      ::_exit(127);
    }
    slave.reset();
    notifyEnd.reset();
    pollfd fd{registered.get(), POLLIN, 0};
    char byte;
    bool closed = ::poll(&fd, 1, 10000) == 1 && ::read(registered.get(), &byte, 1) == 0;
    // An agent that failed closes it too, by ending.
    if (!closed || ::waitpid(pid_, nullptr, WNOHANG) != 0) {
      serve(Reply::Dismiss);
      return "pkttyagent did not register with polkit: " + transcript();
    }
    return "";
  }

  /// Ends the agent, if still running.
  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  /// The terminal's side the test reads, for poll(); -1 once the agent has
  /// gone.
  int terminal() const { return master_.get(); }

  /// Reads what the agent has written so far and answers each new password
  /// prompt with `reply`.
  void serve(Reply reply) {
    if (!master_.valid()) return;
    char buf[4096];
    for (;;) {
      pollfd fd{master_.get(), POLLIN, 0};
      if (::poll(&fd, 1, 0) != 1 || !(fd.revents & POLLIN)) break;
      ssize_t n = ::read(master_.get(), buf, sizeof buf);
      if (n <= 0) {  // the agent has gone (a dismissal ends it)
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

  /// Everything the agent has written.
  const std::string& transcript() const { return seen_; }

 private:
  pid_t pid_ = -1;
  UniqueFd master_;
  std::string seen_;
  std::size_t answeredUpTo_ = 0;
  std::string password_;
};

}  // namespace tavo::testing
