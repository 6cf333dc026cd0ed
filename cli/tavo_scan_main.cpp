// tavo-scan [--json] [BUNDLE]
//
// Prints what the application would offer to remove: the same removal
// session and scan over the bundle this program lives in, or over BUNDLE.
// Changes nothing on the machine. Log lines go to standard error; standard output
// carries only the report.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/home.h"
#include "cli/scan_report.h"
#include "core/removal_session.h"
#include "core/startup_log.h"
#include "prefs/file_prefs_store.h"
#include "platform/file_system.h"
#include "platform/syslog_system_log.h"

namespace {

constexpr const char* kUsage = "usage: tavo-scan [--json] [BUNDLE]\n";

struct Options {
  bool json = false;
  std::string bundle;  // empty: the bundle of this program
};

// False on an unknown option or a second bundle.
bool parseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg.empty() || arg[0] == '-' || !options.bundle.empty()) {
      return false;
    } else {
      options.bundle = arg;
    }
  }
  return true;
}

std::optional<tavo::Bundle> findBundle(const Options& options) {
  if (options.bundle.empty()) return tavo::Bundle::mainBundle();
  bool isFolder = false;
  if (!tavo::fileExistsAtPath(options.bundle, &isFolder) || !isFolder) return std::nullopt;
  return tavo::Bundle(options.bundle);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!parseArguments(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::optional<tavo::Bundle> bundle = findBundle(options);
  if (!bundle) {
    std::fprintf(stderr, "tavo-scan: no bundle folder at '%s'\n", options.bundle.c_str());
    return 1;
  }
  std::string name = bundle->applicationName();
  tavo::SyslogSystemLog log(name.empty() ? "tavo-scan" : name);
  std::string home = tavo::homeFolder().value_or("");
  tavo::FilePrefsStore store(tavo::PrefsRoots::forUser(home), log);
  tavo::NoAuthorization noAuthorization;  // the scan runs nothing privileged
  auto session = tavo::openRemovalSession({.store = store,
                                           .authorization = noAuthorization,
                                           .tools = tavo::bundleTools(*bundle),
                                           .log = log,
                                           .bundle = *bundle,
                                           .home = home});
  tavo::logStartup(log, *bundle, tavo::SystemProcessInfo());
  const tavo::ProductList& products = session->scan();
  bool written = options.json ? tavo::writeProductsJson(STDOUT_FILENO, products)
                              : tavo::writeProductsText(STDOUT_FILENO, products);
  return written ? 0 : 1;
}
