// tavo-uninstall --list [--json] | NAME [--yes] [--all] [--json]
//                | --history [--json] | --undo [ID] [--yes] [--json]
//
// Removes a product without the window, for administrators' scripts: the
// same removal session over the bundle this program lives in as the
// application's, with its scan, safety table, privileged runs and log lines. Without --yes it
// shows the summary and asks on the terminal. Exit status: 0 when every
// removal asked for answered yes, 1 when one answered no, 2 for a usage
// error or an unknown or ambiguous product name. Each removal keeps a record
// in the user's data folder: --history lists them, --undo undoes the newest
// not undone (or the one named ID), exiting 0 when everything came back and
// 1 otherwise. Log lines go to the system log and standard error; with
// --json standard output carries only the JSON document.

#include <cstring>
#include <optional>
#include <iostream>

#include "base/home.h"
#include "cli/uninstall.h"
#include "prefs/file_prefs_store.h"
#include "platform/syslog_system_log.h"
#include "platform/terminal_agent.h"
#include "platform/user_folders.h"

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
  std::optional<tavo::Bundle> bundle = tavo::Bundle::mainBundle();
  if (!bundle) {
    std::cerr << "tavo-uninstall: cannot find the application bundle\n";
    return tavo::kUninstallUsageError;
  }
  tavo::SyslogSystemLog log(bundle->applicationName());
  std::string home = tavo::homeFolder().value_or("");
  tavo::FilePrefsStore store(tavo::PrefsRoots::forUser(home), log);
  std::unique_ptr<tavo::Authorization> authorization = tavo::makeSystemAuthorization(log);
  // Over SSH no desktop agent asks for the password: one on this terminal does.
  std::optional<tavo::TerminalAuthenticationAgent> agent;
  if (!options.list && !options.history) agent.emplace(log);
  tavo::TerminalAlert alert(std::cin, options.json ? std::cerr : std::cout, options.yes);
  auto session = tavo::openRemovalSession({.store = store,
                                           .authorization = *authorization,
                                           .tools = tavo::bundleTools(*bundle),
                                           .log = log,
                                           .bundle = *bundle,
                                           .trash = tavo::homeTrashFolder(home),
                                           .privateFolder = tavo::privateFolder(home),
                                           .home = home,
                                           .records = tavo::removalRecordsFolder(home),
                                           .alert = &alert});
  return tavo::runUninstall(options, *session, std::cout, std::cerr);
}
