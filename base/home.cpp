#include "base/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tavo {
namespace {

// Looks `user` (a name) or `uid` up, growing the buffer until the entry fits.
template <typename Fill>
std::optional<passwd> lookUp(std::vector<char>& buffer, Fill fill) {
  buffer.resize(1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = fill(entry, buffer, found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || !found) return std::nullopt;
    return entry;
  }
}

std::optional<std::string> absoluteHome(const std::optional<passwd>& entry) {
  if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return std::nullopt;
  return std::string(entry->pw_dir);
}

}  // namespace

std::optional<std::string> homeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home);
  return homeFolderOf(::getuid());
}

std::optional<std::string> homeFolderOf(const std::string& user) {
  if (user.empty() || user.find('\0') != std::string::npos) return std::nullopt;
  std::vector<char> buffer;
  return absoluteHome(lookUp(buffer, [&](passwd& entry, std::vector<char>& b, passwd*& found) {
    return ::getpwnam_r(user.c_str(), &entry, b.data(), b.size(), &found);
  }));
}

std::optional<std::string> homeFolderOf(uid_t uid) {
  std::vector<char> buffer;
  return absoluteHome(lookUp(buffer, [&](passwd& entry, std::vector<char>& b, passwd*& found) {
    return ::getpwuid_r(uid, &entry, b.data(), b.size(), &found);
  }));
}

std::optional<gid_t> primaryGroupOf(uid_t uid) {
  std::vector<char> buffer;
  auto entry = lookUp(buffer, [&](passwd& e, std::vector<char>& b, passwd*& found) {
    return ::getpwuid_r(uid, &e, b.data(), b.size(), &found);
  });
  if (!entry) return std::nullopt;
  return entry->pw_gid;
}

}  // namespace tavo
