// keyscrub DOMAIN KEY [KEY...]
// Removes one entry from a preference value shared by all users (any user,
// current host). Prints nothing. Exits 0 whether or not there was an entry to
// remove, and 1 only when the changed value could not be written back, so
// that the caller can tell the user the value is still there (never 126 or
// 127, pkexec's own).

#include <cstdlib>
#include <string>
#include <vector>

#include "prefs/file_prefs_store.h"
#include "prefs/key_path.h"

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
  tavo::prefs::KeyDeletion done =
      tavo::prefs::deletePrefKey(store, domain, names, tavo::PrefUser::Any, tavo::PrefHost::Current);
  return done == tavo::prefs::KeyDeletion::WriteFailed ? 1 : 0;
}
