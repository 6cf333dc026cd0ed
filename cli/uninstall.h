#pragma once
// tavo-uninstall: the removal without the window, for administrators'
// scripts. The same removal session, safety table, privileged runs and log
// lines as the application; a terminal instead of the alert.

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "core/removal_session.h"
#include "core/interfaces/alert.h"

namespace tavo {

/// What the command line asks for.
struct UninstallOptions {
  bool list = false;      // --list: print what a scan finds, as tavo-scan does
  bool history = false;   // --history: list the records of earlier removals
  bool undo = false;      // --undo: undo a removal from its record
  bool json = false;      // --json: print a JSON document on standard output
  bool yes = false;       // --yes: remove (or undo) without asking
  bool all = false;       // --all: every product of that name
  bool dryRun = false;    // --dry-run: say what a removal would do, change nothing
  bool verbose = false;   // --verbose: the log lines on standard error too
  bool allUsers = false;  // --all-users: every login account
  std::vector<std::string> users;  // --user USER, once or more: these accounts
  std::string name;  // the product to remove, or with --undo the record's id ("": the newest)

  bool forAccounts() const { return allUsers || !users.empty(); }
};

inline constexpr const char* kUninstallUsage =
    "usage: tavo-uninstall --list [--json] [--user USER | --all-users] [--verbose]\n"
    "       tavo-uninstall NAME [--yes] [--all] [--dry-run] [--json] [--verbose]\n"
    "                      [--user USER | --all-users]\n"
    "       tavo-uninstall --history [--json] [--user USER | --all-users]\n"
    "       tavo-uninstall --undo [ID] [--yes] [--json] [--verbose] [--user USER]\n";

/// Exit statuses: removed, a removal answered no, a usage error or an
/// unknown or ambiguous product.
inline constexpr int kUninstallRemoved = 0, kUninstallNotRemoved = 1, kUninstallUsageError = 2;

/// False with `error` for a usage error: an unknown option, no name or two
/// names, a name together with --list or --history, --all or --dry-run
/// without a name, two of --list, --history and --undo, --user without a
/// name, --user together with --all-users, or --undo for several accounts.
bool parseUninstallArguments(const std::vector<std::string>& args, UninstallOptions& options,
                             std::string& error);

/// The confirmation on a terminal: the texts on `out`, the answer a line of
/// `in` (the first button's name or initial, "y" or "yes" choose it; anything
/// else, or the end of input, skips). With `yes` it chooses it without reading.
class TerminalAlert final : public Alert {
 public:
  TerminalAlert(std::istream& in, std::ostream& out, bool yes) : in_(in), out_(out), yes_(yes) {}
  int runModal(const std::string& messageText, const std::string& informativeText,
               const std::string& firstButton, const std::string& secondButton) override;
  void showInformation(const std::string& messageText,
                       const std::string& informativeText) override;

 private:
  std::istream& in_;
  std::ostream& out_;
  bool yes_;
};

/// Scans with `session`, then lists, previews or removes as `options` say;
/// or lists the records of removals, or undoes one. Reports go to `out`,
/// refusals to `err`; the exit status. An undo exits 0 when everything came
/// back and 1 when something did not (each named), it was skipped, or the
/// record was undone before; an unknown record is a usage error.
int runUninstall(const UninstallOptions& options, RemovalSession& session, std::ostream& out,
                 std::ostream& err);

/// An account that a removal for several users acts for, and the session
/// opened for it, which acts for that user.
struct AccountSession {
  std::string name;
  std::string home;
  RemovalSession* session = nullptr;
};

/// The records of each account's removals, under the account; the exit status.
int historyForAccounts(const std::vector<AccountSession>& accounts, bool json, std::ostream& out);

/// Scans for each account in turn, then lists, previews or removes as
/// `options` say: one question through `confirm` for all of them, the
/// steps in each user's space for every account that holds traces of the
/// product in it (its home or its own preferences), then the machine-wide
/// steps once. Accounts with none are left alone and reported as such.
/// `progress`: one line per account on `err` as its steps end.
int runForAccounts(const UninstallOptions& options, const std::vector<AccountSession>& accounts,
                   Alert& confirm, std::ostream& out, std::ostream& err, bool progress);

}  // namespace tavo
