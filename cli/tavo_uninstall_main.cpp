// tavo-uninstall --list [--json] [--user USER | --all-users] [--verbose]
// tavo-uninstall NAME [--yes] [--all] [--dry-run] [--json] [--verbose]
//                [--user USER | --all-users]
// tavo-uninstall --history [--json] [--user USER | --all-users]
// tavo-uninstall --undo [ID] [--yes] [--json] [--verbose] [--user USER]
//
// Removes a product without the window, for administrators' scripts: the
// same removal session over the bundle this program lives in as the
// application's, with its scan, safety table, privileged runs and log lines.
// Without --yes it shows the summary and asks on the terminal; --dry-run
// only says what a removal would do. Exit status: 0 when every removal asked
// for answered yes, 1 when one answered no, 2 for a usage error or an
// unknown or ambiguous product name. Each removal keeps a record in the
// user's data folder: --history lists them, --undo undoes the newest not
// undone (or the one named ID), exiting 0 when everything came back and 1
// otherwise. Log lines go to the system log, and with --verbose to standard
// error too; with --json standard output carries only the JSON document.
//
// --user and --all-users (root only, but for the caller's own account) act
// for other accounts: each one's scan and its preferences are read and
// written with that user's file-system ids and their home as HOME, nothing
// of root's environment names their folders, and sweeper is told whom it
// acts for. Their records are kept in their folders, as theirs.

#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "base/home.h"
#include "cli/uninstall.h"
#include "core/startup_log.h"
#include "platform/login_accounts.h"
#include "platform/syslog_system_log.h"
#include "platform/terminal_agent.h"
#include "platform/user_folders.h"
#include "prefs/file_prefs_store.h"

namespace {

/// The accounts the options name; nullopt, with a line on standard error,
/// for one that does not exist or that a plain user may not act for.
std::optional<std::vector<tavo::UserIds>> namedAccounts(const tavo::UninstallOptions& options) {
  const uid_t self = ::geteuid();
  if (options.allUsers && self != 0) {
    std::cerr << "tavo-uninstall: --all-users needs root\n";
    return std::nullopt;
  }
  if (options.allUsers) return tavo::loginAccounts();
  std::vector<tavo::UserIds> accounts;
  for (const std::string& name : options.users) {
    std::optional<tavo::UserIds> user = tavo::userIdsNamed(name);
    if (self != 0 && (!user || user->uid != self)) {
      std::cerr << "tavo-uninstall: --user " << name << " needs root\n";
      return std::nullopt;
    }
    if (!user) {
      std::cerr << "tavo-uninstall: no user named \"" << name << "\" with a home folder\n";
      return std::nullopt;
    }
    accounts.push_back(std::move(*user));
  }
  return accounts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << tavo::kUninstallUsage;
    return 0;
  }
  tavo::UninstallOptions options;
  std::string error;
  if (!tavo::parseUninstallArguments({argv + 1, argv + argc}, options, error)) {
    std::cerr << "tavo-uninstall: " << error << "\n" << tavo::kUninstallUsage;
    return tavo::kUninstallUsageError;
  }
  std::optional<std::vector<tavo::UserIds>> accounts;
  if (options.forAccounts() && !(accounts = namedAccounts(options)))
    return tavo::kUninstallUsageError;
  // A plain user naming only themselves removes as without --user.
  if (accounts && ::geteuid() != 0) accounts.reset();
  std::optional<tavo::Bundle> bundle = tavo::Bundle::mainBundle();
  if (!bundle) {
    std::cerr << "tavo-uninstall: cannot find the application bundle\n";
    return tavo::kUninstallUsageError;
  }
  tavo::SyslogSystemLog log(bundle->applicationName(), options.verbose);
  std::string home = tavo::homeFolder().value_or("");
  std::unique_ptr<tavo::Authorization> authorization = tavo::makeSystemAuthorization(log);
  // Over SSH no desktop agent asks for the password: one on this terminal does.
  std::optional<tavo::TerminalAuthenticationAgent> agent;
  if (!options.list && !options.dryRun && !options.history) agent.emplace(log);
  tavo::TerminalAlert alert(std::cin, options.json ? std::cerr : std::cout, options.yes);
  tavo::logStartup(log, *bundle, tavo::SystemProcessInfo());
  const tavo::PrivilegedTools tools = tavo::bundleTools(*bundle);
  const std::string privateFolder = tavo::privateFolder(home);
  if (!accounts) {
    tavo::FilePrefsStore store(tavo::PrefsRoots::forUser(home), log);
    tavo::SessionSetup own{.store = store, .authorization = *authorization, .tools = tools,
                           .log = log, .bundle = *bundle, .trash = tavo::homeTrashFolder(home),
                           .privateFolder = privateFolder, .home = home,
                           .records = tavo::removalRecordsFolder(home), .alert = &alert};
    return tavo::runUninstall(options, *tavo::openRemovalSession(own), std::cout, std::cerr);
  }
  // Each account's own places, from its home alone; the list files stay root's.
  std::vector<std::unique_ptr<tavo::FilePrefsStore>> stores;
  std::vector<std::unique_ptr<tavo::RemovalSession>> sessions;
  std::vector<tavo::AccountSession> opened;
  for (const tavo::UserIds& user : *accounts) {
    stores.push_back(std::make_unique<tavo::FilePrefsStore>(tavo::PrefsRoots::forUser(user.home), log));
    sessions.push_back(tavo::openRemovalSession({.store = *stores.back(),
                                                 .authorization = *authorization,
                                                 .tools = tools,
                                                 .log = log,
                                                 .bundle = *bundle,
                                                 .trash = tavo::defaultHomeTrashFolder(user.home),
                                                 .privateFolder = privateFolder,
                                                 .home = user.home,
                                                 .records = tavo::defaultRemovalRecordsFolder(user.home),
                                                 .alert = &alert,
                                                 .actingFor = &user}));
    opened.push_back({user.name, user.home, sessions.back().get()});
  }
  if (options.history) return tavo::historyForAccounts(opened, options.json, std::cout);
  if (options.undo) return tavo::runUninstall(options, *sessions.front(), std::cout, std::cerr);
  return tavo::runForAccounts(options, opened, alert, std::cout, std::cerr,
                              ::isatty(STDERR_FILENO) == 1);
}
