#include "platform/tilde.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

namespace tavo {
namespace {

// The password database entry of `user`, or of the real user when empty;
// the buffer grows until the entry fits.
std::optional<std::string> homeFromPasswd(const std::string& user) {
  std::vector<char> buffer(1024);
  for (;;) {
    passwd entry;
    passwd* found = nullptr;
    int rc = user.empty()
                 ? ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)
                 : ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || !found || !found->pw_dir) return std::nullopt;
    return std::string(found->pw_dir);
  }
}

std::optional<std::string> homeOf(const std::string& user) {
  if (user.empty()) {
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home);
  }
  return homeFromPasswd(user);
}

}  // namespace

std::string expandTildeInPath(const std::string& path) {
  if (path.empty() || path[0] != '~') return path;
  std::size_t slash = path.find('/');
  std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  if (user.find('\0') != std::string::npos) return path;
  std::optional<std::string> home = homeOf(user);
  if (!home || home->empty()) return path;
  std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
  while (home->size() > 1 && home->back() == '/') home->pop_back();
  if (*home == "/") return rest.empty() ? *home : rest;
  return *home + rest;
}

}  // namespace tavo
