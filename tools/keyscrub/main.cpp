// keyscrub DOMAIN KEY [KEY...]
// Removes one entry from a preference value shared by all users (any user,
// current host). Prints nothing. Exits 0 whether or not there was an entry to
// remove, and 1 only when the changed value could not be written back, so
// that the caller can tell the user the value is still there (never 126 or
// 127, pkexec's own). Run through pkexec (PKEXEC_UID set) it acts only on a
// domain that a product description of the installed bundle names, root's
// files alone counting; another domain is left as it is, with one line on
// standard error and exit status 1.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "prefs/file_prefs_store.h"
#include "prefs/key_path.h"
#include "safety/product_claims.h"

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

// Always for root's own runs; through pkexec only when an installed product names it.
bool mayActOn(const std::string& domain) {
  if (!std::getenv("PKEXEC_UID")) return true;
  std::optional<std::string> resources = tavo::ownBundleResources();
  std::string error;
  std::optional<tavo::ProductClaims> claims =
      resources ? tavo::readProductClaims(*resources, error) : std::nullopt;
  return claims && claims->domains.count(domain) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string domain;
  std::vector<std::string> names;
  if (argc >= 3) {
    domain = argv[1];
    names.assign(argv + 2, argv + argc);
    if (!mayActOn(domain)) {
      std::fprintf(stderr, "keyscrub: %s is not a domain that an installed product names\n", domain.c_str());
      return 1;
    }
  }
  tavo::NullLog log;
  tavo::FilePrefsStore store(roots(), log);
  tavo::prefs::KeyDeletion done =
      tavo::prefs::deletePrefKey(store, domain, names, tavo::PrefUser::Any, tavo::PrefHost::Current);
  return done == tavo::prefs::KeyDeletion::WriteFailed ? 1 : 0;
}
