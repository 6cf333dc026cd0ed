#include "tools/sweeper/user.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>

namespace tavo {

std::optional<User> lookUpUser(uid_t uid) {
  std::vector<char> buffer(1024);
  passwd entry{};
  passwd* found = nullptr;
  int rc;
  while ((rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0 || !found || !entry.pw_dir || entry.pw_dir[0] != '/') return std::nullopt;
  User user{uid, entry.pw_gid, {}, entry.pw_dir};
  int count = 32;
  for (;;) {
    user.groups.resize(static_cast<std::size_t>(count));
    int asked = count;
    if (getgrouplist(entry.pw_name, entry.pw_gid, user.groups.data(), &count) >= 0) break;
    if (count <= asked) count = asked * 2;  // some versions do not say how many
    if (count > 65536) return std::nullopt;
  }
  user.groups.resize(static_cast<std::size_t>(count));
  return user;
}

AsUser::AsUser(const User& user) {
  if (geteuid() == user.uid) return;
  int count = getgroups(0, nullptr);
  saved_.resize(static_cast<std::size_t>(count > 0 ? count : 0));
  if (count < 0 || getgroups(count, saved_.data()) != count) {
    ok_ = false;
    return;
  }
  switched_ = true;
  // Groups and group first: once the fsuid is the user's, root's rights to
  // change them are gone until it is root's again.
  setgroups(user.groups.size(), user.groups.data());
  setfsgid(user.gid);
  setfsuid(user.uid);
  // Each call answers the ids as they were before it: ask twice to know.
  ok_ = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == user.uid &&
        static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == user.gid &&
        getgroups(0, nullptr) == static_cast<int>(user.groups.size());
}

AsUser::~AsUser() {
  if (!switched_) return;
  setfsuid(geteuid());
  setfsgid(getegid());
  setgroups(saved_.size(), saved_.data());
}

namespace {

// As the user: the path as they walk it reaches the very folder held, which
// they may write and search.
bool reachesAndWrites(int parent, const struct stat& folder, const std::string& parentPath) {
  struct stat reached;
  return stat(parentPath.c_str(), &reached) == 0 && reached.st_dev == folder.st_dev &&
         reached.st_ino == folder.st_ino && faccessat(parent, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

bool userMayMove(const User& user, int parent, const std::string& parentPath,
                 const std::string& name, const struct stat& st) {
  if (user.uid == 0) return true;
  struct stat folder;
  if (fstat(parent, &folder) != 0) return false;
  // A sticky folder lets only the owner of the entry or of the folder move it.
  if ((folder.st_mode & S_ISVTX) != 0 && st.st_uid != user.uid && folder.st_uid != user.uid) {
    return false;
  }
  AsUser as(user);
  // A folder moved elsewhere must be writable itself.
  return as.ok() && reachesAndWrites(parent, folder, parentPath) &&
         (!S_ISDIR(st.st_mode) ||
          faccessat(parent, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0);
}

bool userMayPlace(const User& user, int parent, const std::string& parentPath) {
  if (user.uid == 0) return true;
  struct stat folder;
  if (fstat(parent, &folder) != 0) return false;
  AsUser as(user);
  return as.ok() && reachesAndWrites(parent, folder, parentPath);
}

}  // namespace tavo
