// keyscrub DOMAIN KEY [KEY...]
// Removes one entry from a preference value shared by all users. Prints
// nothing and always exits 0: the caller does not observe the outcome.

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
  tavo::keyscrub::deleteConfigKeyAnyUser(store, domain, names);
  return 0;
}
