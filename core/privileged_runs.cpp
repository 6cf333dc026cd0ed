#include "core/privileged_runs.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "base/io.h"
#include "core/log_lines.h"
#include "safety/sweeper_lines.h"

namespace tavo {
namespace {

RunResult resultOf(int status) {
  if (status < 0) return RunResult::NotRun;
  return status == 0 ? RunResult::Succeeded : RunResult::Failed;
}

}  // namespace

// Logs, shows and keeps each complete line of `pending`; the unfinished rest
// stays there, or is taken too at the end of the stream. Progress within a
// copy is only shown: it is no item's outcome, and a long copy writes many.
void PrivilegedRuns::takeLines(std::string& pending, bool atEnd) {
  while (!pending.empty()) {
    std::size_t end = pending.find('\n');
    if (end == std::string::npos && !atEnd) return;
    std::string line = pending.substr(0, end);
    pending.erase(0, end == std::string::npos ? std::string::npos : end + 1);
    auto decoded = sweeperlines::decode(line);
    if (decoded && decoded->kind == sweeperlines::Kind::Copying) {
      wait_.reported(line);
      continue;
    }
    log_.line(loglines::kFromSweeper + line);
    wait_.reported(line);
    sweeperLines_.push_back(std::move(line));
  }
}

PrivilegedRuns::PrivilegedRuns(Authorization& authorization, SystemLog& log,
                               PrivilegedTools tools, HelperWait* wait)
    : authorization_(authorization),
      log_(log),
      tools_(std::move(tools)),
      wait_(wait ? *wait : plainWait_) {}

PrivilegedRuns::~PrivilegedRuns() {
  if (_freeAuth && _myAuthorizationRef) authorization_.release(std::move(_myAuthorizationRef));
}

PrivilegedRuns::Right PrivilegedRuns::obtainRight(const std::string& program) {
  // Without a reference nothing is held, whatever the test says (as root it
  // always says yes); the launch needs the reference in any case.
  if (authorization_.testRight(_myAuthorizationRef.get(), program) && _myAuthorizationRef)
    return Right::AlreadyHeld;
  _freeAuth = true;
  if (_myAuthorizationRef) authorization_.release(std::move(_myAuthorizationRef));
  _myAuthorizationRef = authorization_.create();
  if (!authorization_.requestRight(*_myAuthorizationRef, program, purpose_)) return Right::Refused;
  return Right::NewlyGranted;
}

RunResult PrivilegedRuns::runAndWait(const std::string& program,
                                     const std::vector<std::string>& args) {
  if (program.empty() || obtainRight(program) == Right::Refused) return RunResult::NotRun;
  auto process = authorization_.execute(*_myAuthorizationRef, program, args, false);
  return process ? resultOf(process->wait()) : RunResult::NotRun;
}

RunResult PrivilegedRuns::runWithInput(const std::string& program,
                                       const std::vector<std::string>& args,
                                       const std::string& input) {
  if (program.empty() || obtainRight(program) == Right::Refused) return RunResult::NotRun;
  auto process = authorization_.execute(*_myAuthorizationRef, program, args, true);
  if (!process) return RunResult::NotRun;
  // A program that ends before it has read it all is answered by its status.
  if (process->stream() >= 0) {
    writeAll(process->stream(), input);
    ::shutdown(process->stream(), SHUT_WR);
    std::string ignored;
    readAll(process->stream(), ignored, 1 << 20);
    process->closeStream();
  }
  return resultOf(process->wait());
}

RunResult PrivilegedRuns::restorePkg(const std::string& identifier, const std::string& receipt) {
  return runWithInput(tools_.packageTool, {"--restore", identifier}, receipt);
}

RunResult PrivilegedRuns::restoreAnyUserPrefKey(const std::string& domain,
                                                const std::vector<std::string>& withKeyNames,
                                                const std::string& value) {
  if (withKeyNames.size() < 2) return RunResult::NotRun;
  std::vector<std::string> args{"--restore", domain};
  args.insert(args.end(), withKeyNames.begin(), withKeyNames.end());
  return runWithInput(tools_.keyscrub, args, value);
}

RunResult PrivilegedRuns::forgetPkg(const std::string& identifier) {
  return runAndWait(tools_.packageTool, {"--forget", identifier});
}

RunResult PrivilegedRuns::unlinkPkg(const std::string& identifier) {
  return runAndWait(tools_.packageTool, {"--unlink", identifier});
}

RunResult PrivilegedRuns::deleteAnyUserPrefKey(const std::string& domain,
                                               const std::vector<std::string>& withKeyNames) {
  if (withKeyNames.empty()) return RunResult::NotRun;
  std::vector<std::string> args{domain};
  args.insert(args.end(), withKeyNames.begin(), withKeyNames.end());
  return runAndWait(tools_.keyscrub, args);
}

SweeperRun PrivilegedRuns::rmAdmin(const std::string& trash, const std::string& listPath,
                                   std::size_t entries, std::optional<uid_t> forUser) {
  return runSweeper({trash, listPath}, entries, forUser);
}

SweeperRun PrivilegedRuns::restoreAdmin(const std::string& trash, const std::string& listPath,
                                        std::size_t entries, std::optional<uid_t> forUser) {
  return runSweeper({"--restore", trash, listPath}, entries, forUser);
}

SweeperRun PrivilegedRuns::runSweeper(std::vector<std::string> args, std::size_t entries,
                                      std::optional<uid_t> forUser) {
  if (tools_.sweeper.empty()) return {};
  Right branch = obtainRight(tools_.sweeper);
  if (branch == Right::Refused) return {};
  if (forUser) args.insert(args.begin(), {"--for", std::to_string(*forUser)});
  auto process = authorization_.execute(*_myAuthorizationRef, tools_.sweeper, args, true);
  if (!process) {
    log_.line(std::string(branch == Right::AlreadyHeld ? loglines::kRmAdminErrorHeld
                                                       : loglines::kRmAdminErrorGranted) +
              "-1");
    return {};
  }
  wait_.begin(entries);
  sweeperLines_.clear();
  std::vector<std::string> quietPasses = followSweeper(*process, branch);
  RunResult result = resultOf(process->wait());
  wait_.end();
  // pkexec refusing ends the run before sweeper starts: a run that never
  // happened logs nothing.
  if (result != RunResult::NotRun)
    for (const std::string& line : quietPasses) log_.line(line);
  return {result, std::exchange(sweeperLines_, {})};
}

// Reads sweeper's stream until it closes, so that the list file is never
// rewritten while sweeper may still read it; one log line per second of
// waiting with the number of bytes it has written so far, and each line it
// reports as it arrives. The pass lines before its first byte are held back
// until it writes and returned if it never does: until then pkexec may still
// be asking for a password, to be refused.
std::vector<std::string> PrivilegedRuns::followSweeper(PrivilegedProcess& process, Right branch) {
  const std::string tell =
      branch == Right::AlreadyHeld ? loglines::kRmAdminTellHeld : loglines::kRmAdminTellGranted;
  using Clock = std::chrono::steady_clock;
  long received = 0;
  std::string pending;
  std::vector<std::string> quietPasses;
  bool open = process.stream() >= 0;
  while (open) {
    auto passEnd = Clock::now() + std::chrono::seconds(1);
    while (open && Clock::now() < passEnd) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(passEnd - Clock::now());
      wait_.waitReadable(process.stream(), left + std::chrono::milliseconds(1));
      pollfd readable{process.stream(), POLLIN, 0};
      if (::poll(&readable, 1, 0) <= 0) continue;  // the pass is not over yet
      char buf[4096];
      ssize_t n = ::read(process.stream(), buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        open = false;
        break;
      }
      for (const std::string& line : quietPasses) log_.line(line);
      quietPasses.clear();
      received += n;
      pending.append(buf, static_cast<std::size_t>(n));
      takeLines(pending, false);
    }
    if (received == 0)
      quietPasses.push_back(tell + "0");
    else
      log_.line(tell + std::to_string(received));
  }
  takeLines(pending, true);
  process.closeStream();
  return quietPasses;
}

}  // namespace tavo
