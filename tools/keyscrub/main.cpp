// keyscrub DOMAIN KEY [KEY...]
// keyscrub --restore DOMAIN KEY KEY... < VALUE
//
// The first form removes one entry from a preference value shared by all
// users (any user, current host). Prints nothing. Exits 0 whether or not
// there was an entry to remove, and 1 only when the changed value could not
// be written back, so that the caller can tell the user the value is still
// there (never 126 or 127, pkexec's own).
//
// The second puts a removed entry back where the first took it from: VALUE,
// on standard input, is a property list whose top-level dictionary holds the
// entry under "Value" and, when known, its place among its dictionary's
// members under "Position", as the undo of a removal recorded them. A value
// that is there now is never replaced. Exits 0 when the entry is back; 1, with one
// line on standard error, when it is not.
//
// Run through pkexec (PKEXEC_UID set) it acts only on a domain that a product
// description of the installed bundle names, and puts back only a key path
// that such a description names as a "$_var(" line, root's files alone
// counting; anything else is left as it is, with one line on standard error
// and exit status 1.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/io.h"
#include "plist/plist_file.h"
#include "prefs/file_prefs_store.h"
#include "prefs/key_path.h"
#include "safety/product_claims.h"

namespace {

constexpr std::size_t kMaxValueBytes = 64u << 20;

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

int complain(const std::string& line) {
  std::fprintf(stderr, "keyscrub: %s\n", line.c_str());
  return 1;
}

std::string joined(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) path += (path.empty() ? "" : "/") + name;
  return path;
}

// Always for root's own runs; through pkexec only what an installed product
// names: the domain, and for a restore the value entry itself.
bool mayActOn(const std::string& domain, const std::vector<std::string>* restoring) {
  if (!std::getenv("PKEXEC_UID")) return true;
  std::optional<std::string> resources = tavo::ownBundleResources();
  std::string error;
  std::optional<tavo::ProductClaims> claims =
      resources ? tavo::readProductClaims(*resources, error) : std::nullopt;
  if (!claims || claims->domains.count(domain) == 0) return false;
  return !restoring || claims->values.count(domain + "::" + joined(*restoring)) != 0;
}

int restore(const std::string& domain, const std::vector<std::string>& names) {
  if (!mayActOn(domain, &names)) {
    return complain(domain + "::" + joined(names) + " is not a value that an installed product names");
  }
  std::string bytes;
  if (!tavo::readAll(STDIN_FILENO, bytes, kMaxValueBytes)) return complain("cannot read the value");
  tavo::PlistFile given = tavo::parsePlist(bytes);
  const tavo::PlistValue *value = given.dict.find("Value"), *position = given.dict.find("Position");
  if (given.state != tavo::PlistFile::State::Ok || !value) {
    return complain("standard input holds no value to put back");
  }
  const std::optional<std::uint64_t> at =
      position && position->integer() ? position->integer()->asUint64() : std::nullopt;
  tavo::NullLog log;
  tavo::FilePrefsStore store(roots(), log);
  switch (tavo::prefs::restorePrefKey(store, domain, names, tavo::PrefUser::Any,
                                      tavo::PrefHost::Current, *value,
                                      at.value_or(SIZE_MAX))) {
    case tavo::prefs::KeyRestore::Restored: return 0;
    case tavo::prefs::KeyRestore::Occupied: return complain("a value is there now: it stays");
    case tavo::prefs::KeyRestore::NotReached: return complain("the key path cannot be reached");
    case tavo::prefs::KeyRestore::WriteFailed: break;
  }
  return complain("the value could not be written back");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--restore") {
    if (args.size() < 4) return complain("usage: keyscrub --restore DOMAIN KEY KEY... < VALUE");
    return restore(args[1], {args.begin() + 2, args.end()});
  }
  std::string domain;
  std::vector<std::string> names;
  if (args.size() >= 2) {
    domain = args[0];
    names.assign(args.begin() + 1, args.end());
    if (!mayActOn(domain, nullptr)) {
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
