#include "platform/terminal_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/unique_fd.h"
#include "platform/log_lines.h"

namespace tavo {
namespace {

constexpr const char* kAgent = "/usr/bin/pkttyagent";

// "PID,START-TIME": with its start time, a process id cannot be mistaken for
// a later process that reuses it.
std::string thisProcess() {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t end = stat.rfind(')');  // the command may hold spaces and brackets
  std::istringstream fields(end == std::string::npos ? "" : stat.substr(end + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  std::string pid = std::to_string(::getpid());
  return field.empty() ? pid : pid + "," + field;  // field 22: the start time
}

}  // namespace

TerminalAuthenticationAgent::TerminalAuthenticationAgent(SystemLog& log) {
  if (::geteuid() == 0 || !::isatty(STDIN_FILENO) || ::access(kAgent, X_OK) != 0) return;
  int notify[2];
  if (::pipe2(notify, O_CLOEXEC) != 0) return;
  UniqueFd readEnd(notify[0]), writeEnd(notify[1]);
  std::string error;
  // It closes the descriptor it was told to once it is registered. Not as a
  // fallback: polkit passes such an agent over when it looks for this
  // process's; one for this process is the most specific there is, and a
  // desktop agent of the session is still used by everything else.
  agent_ = Child::start({.argv = {kAgent, "--process", thisProcess(), "--notify-fd", "2"},
                         .in = kInheritStream, .out = kInheritStream, .err = writeEnd.get()},
                        &error);
  writeEnd.reset();
  if (!agent_.started()) {
    log.line(std::string(loglines::kAuthorization) + error);
    return;
  }
  // Its standard error is the pipe too: what it says when it cannot register.
  std::string said;
  char buf[512];
  for (;;) {
    pollfd pipe{readEnd.get(), POLLIN, 0};
    if (::poll(&pipe, 1, 10000) <= 0) {
      log.line(std::string(loglines::kAuthorization) + "pkttyagent did not register in time");
      return;
    }
    ssize_t n = ::read(readEnd.get(), buf, sizeof buf);
    if (n <= 0) break;
    said.append(buf, static_cast<std::size_t>(n));
  }
  if (!said.empty())
    log.line(std::string(loglines::kAuthorization) + "pkttyagent: " + said.substr(0, said.find('\n')));
}

TerminalAuthenticationAgent::~TerminalAuthenticationAgent() {
  if (agent_.started()) agent_.terminate(std::chrono::milliseconds(500));
}

}  // namespace tavo
