#pragma once
// The runs made with administrator rights: the package tool, sweeper and
// keyscrub, each after making sure that the held authorisation reference
// carries the right to run that program.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/authorization.h"
#include "core/interfaces/helper_wait.h"
#include "base/system_log.h"

namespace tavo {

/// The programs the privileged runs start.
struct PrivilegedTools {
  std::string packageTool;  // the package tool beside the application
  std::string sweeper;      // the bundle's resource; empty when missing
  std::string keyscrub;     // the bundle's resource; empty when missing
};

/// How a privileged run ended.
enum class RunResult {
  Succeeded,  // the program ran and exited with status 0
  Failed,     // the program ran and reported a failure
  NotRun,     // the right was refused, or the program could not be started or was killed
};

/// How a sweeper run ended, and the lines it reported, in order, without
/// their line feeds.
struct SweeperRun {
  RunResult result = RunResult::NotRun;
  std::vector<std::string> lines = {};
};

class PrivilegedRuns {
 public:
  /// `wait` follows sweeper's runs; without one they are waited for with poll(2).
  PrivilegedRuns(Authorization& authorization, SystemLog& log, PrivilegedTools tools,
                 HelperWait* wait = nullptr);
  /// Frees the held reference when one was ever created.
  ~PrivilegedRuns();
  PrivilegedRuns(const PrivilegedRuns&) = delete;
  PrivilegedRuns& operator=(const PrivilegedRuns&) = delete;

  // Each run returns once its program has ended, so that the next run never
  // overlaps it.

  /// The package tool with "--forget" and the identifier.
  RunResult forgetPkg(const std::string& identifier);
  /// The package tool with "--unlink" and the identifier.
  RunResult unlinkPkg(const std::string& identifier);
  /// The package tool with "--restore" and the identifier, given `receipt`
  /// (what "--export" printed) on its standard input.
  RunResult restorePkg(const std::string& identifier, const std::string& receipt);
  /// sweeper with the Trash folder `trash` and `listPath` (`entries` lines,
  /// when known), read until it has ended; each line it reports is logged as
  /// received, shown by the helper wait and returned. `forUser`: root acting
  /// for that user, whom sweeper is told to act for.
  SweeperRun rmAdmin(const std::string& trash, const std::string& listPath,
                     std::size_t entries = 0, std::optional<uid_t> forUser = std::nullopt);
  /// The same with "--restore": the items of `listPath` put back.
  SweeperRun restoreAdmin(const std::string& trash, const std::string& listPath,
                          std::size_t entries = 0, std::optional<uid_t> forUser = std::nullopt);
  /// keyscrub with the domain and the key names; NotRun at once, asking
  /// nobody, for an empty list of names.
  RunResult deleteAnyUserPrefKey(const std::string& domain,
                                 const std::vector<std::string>& withKeyNames);
  /// keyscrub putting `value` (a property list holding it as "Value") back
  /// at the key path for all users; NotRun at once for fewer than two names.
  RunResult restoreAnyUserPrefKey(const std::string& domain,
                                  const std::vector<std::string>& withKeyNames,
                                  const std::string& value);

  /// What the rights requested from now on are for.
  void setPurpose(RightsPurpose purpose) { purpose_ = purpose; }

  /// Set from the first time a reference was created on; never cleared.
  bool freeAuth() const { return _freeAuth; }
  const PrivilegedTools& tools() const { return tools_; }

 private:
  enum class Right { AlreadyHeld, NewlyGranted, Refused };

  Right obtainRight(const std::string& program);
  RunResult runAndWait(const std::string& program, const std::vector<std::string>& args);
  /// The same with `input` on the program's standard input; its output is read and dropped.
  RunResult runWithInput(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input);
  SweeperRun runSweeper(std::vector<std::string> args, std::size_t entries,
                        std::optional<uid_t> forUser);
  /// The pass lines not logged because sweeper never wrote.
  std::vector<std::string> followSweeper(PrivilegedProcess& process, Right branch);
  void takeLines(std::string& pending, bool atEnd);

  Authorization& authorization_;
  SystemLog& log_;
  PrivilegedTools tools_;
  PlainHelperWait plainWait_;
  HelperWait& wait_;
  std::unique_ptr<AuthorizationRef> _myAuthorizationRef;
  bool _freeAuth = false;
  RightsPurpose purpose_ = RightsPurpose::Removal;
  std::vector<std::string> sweeperLines_;  // of the run under way
};

}  // namespace tavo
