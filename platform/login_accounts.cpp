#include "platform/login_accounts.h"

#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace tavo {
namespace {

// The numeric setting `name` of login.defs, or `fallback`. Numbers may be
// written in octal or hexadecimal there, as the shadow tools read them.
unsigned long setting(const std::string& loginDefs, const std::string& name,
                      unsigned long fallback) {
  std::ifstream in(loginDefs);
  unsigned long value = fallback;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key, text;
    if (!(words >> key >> text) || key != name) continue;
    char* end = nullptr;
    unsigned long read = std::strtoul(text.c_str(), &end, 0);
    if (end != text.c_str() && *end == '\0') value = read;
  }
  return value;
}

}  // namespace

std::vector<UserIds> loginAccounts(const std::string& loginDefs) {
  const unsigned long low = setting(loginDefs, "UID_MIN", 1000);
  const unsigned long high = setting(loginDefs, "UID_MAX", 60000);
  std::vector<std::string> names;
  ::setpwent();
  while (const passwd* entry = ::getpwent())
    if (entry->pw_uid >= low && entry->pw_uid <= high) names.emplace_back(entry->pw_name);
  ::endpwent();
  std::vector<UserIds> accounts;
  std::set<uid_t> seen;
  for (const std::string& name : names) {
    std::optional<UserIds> user = userIdsNamed(name);
    struct stat st {};
    if (!user || user->uid < low || user->uid > high || !seen.insert(user->uid).second ||
        ::stat(user->home.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != user->uid)
      continue;
    accounts.push_back(std::move(*user));
  }
  return accounts;
}

}  // namespace tavo
