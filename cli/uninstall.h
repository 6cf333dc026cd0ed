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
  bool list = false;  // --list: print what a scan finds, as tavo-scan does
  bool json = false;  // --json: print a JSON document on standard output
  bool yes = false;   // --yes: remove without asking
  bool all = false;   // --all: every product of that name
  std::string name;   // the product to remove
};

inline constexpr const char* kUninstallUsage =
    "usage: tavo-uninstall --list [--json]\n"
    "       tavo-uninstall NAME [--yes] [--all] [--json]\n";

/// Exit statuses: removed, a removal answered no, a usage error or an
/// unknown or ambiguous product.
inline constexpr int kUninstallRemoved = 0, kUninstallNotRemoved = 1, kUninstallUsageError = 2;

/// False with `error` for a usage error: an unknown option, no name or two
/// names, or a name together with --list.
bool parseUninstallArguments(const std::vector<std::string>& args, UninstallOptions& options,
                             std::string& error);

/// The confirmation on a terminal: the texts on `out`, the answer a line of
/// `in` ("r", "remove", "y" or "yes" removes; anything else, or the end of
/// input, skips). With `yes` it removes without reading.
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

/// Scans with `session`, then lists or removes as `options` say. Reports go
/// to `out`, refusals to `err`; the exit status.
int runUninstall(const UninstallOptions& options, RemovalSession& session, std::ostream& out,
                 std::ostream& err);

}  // namespace tavo
