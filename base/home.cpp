#include "base/home.h"

#include <grp.h>
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

std::optional<UserIds> idsOf(const std::optional<passwd>& entry) {
  std::optional<std::string> home = absoluteHome(entry);
  if (!home || !entry->pw_name) return std::nullopt;
  UserIds user{entry->pw_name, entry->pw_uid, entry->pw_gid, {}, *home};
  int count = 32;
  for (;;) {
    user.groups.resize(static_cast<std::size_t>(count));
    int asked = count;
    if (::getgrouplist(entry->pw_name, entry->pw_gid, user.groups.data(), &count) >= 0) break;
    if (count <= asked) count = asked * 2;  // some versions do not say how many
    if (count > 65536) return std::nullopt;
  }
  user.groups.resize(static_cast<std::size_t>(count));
  return user;
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

std::optional<UserIds> userIdsOf(uid_t uid) {
  std::vector<char> buffer;
  return idsOf(lookUp(buffer, [&](passwd& entry, std::vector<char>& b, passwd*& found) {
    return ::getpwuid_r(uid, &entry, b.data(), b.size(), &found);
  }));
}

std::optional<UserIds> userIdsNamed(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::vector<char> buffer;
  return idsOf(lookUp(buffer, [&](passwd& entry, std::vector<char>& b, passwd*& found) {
    return ::getpwnam_r(name.c_str(), &entry, b.data(), b.size(), &found);
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
