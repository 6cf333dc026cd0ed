// keyscrub DOMAIN KEY [KEY...]
// Removes one entry from a preference value shared by all users. Prints
// nothing. Exits 0 whether or not there was an entry to remove, and 1 only
// when the changed value could not be written back, so that the caller can
// tell the user the value is still there (never 126 or 127, pkexec's own).

#include <cstdlib>
#include <string>
#include <vector>

#include "keyscrub/delete_key.h"
#include "platform/file_prefs_store.h"

namespace {

tavo::PrefsRoots roots() {
#ifdef TAVO_TEST_ROOTS
  // Only the test build reads its folder from the environment; the shipped
  // tool runs as root and must not let a caller choose where it writes.
  const char* anyUser = std::getenv("TAVO_TEST_ANY_USER_PREFS");
  return tavo::PrefsRoots{"", anyUser ? anyUser : "", ""};
#else
  return tavo::PrefsRoots{"", "/Library/Preferences", ""};
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::string domain;
  std::vector<std::string> names;
  if (argc >= 3) {
    domain = argv[1];
    names.assign(argv + 2, argv + argc);
  }
  tavo::NullLog log;
  tavo::FilePrefsStore store(roots(), log);
  bool writeFailed = false;
  tavo::keyscrub::deleteConfigKeyAnyUser(store, domain, names, &writeFailed);
  return writeFailed ? 1 : 0;
}
