#include "tools/sweeper/user.h"

#include <fcntl.h>
#include <unistd.h>

namespace tavo {

std::optional<User> lookUpUser(uid_t uid) {
  std::optional<UserIds> ids = userIdsOf(uid);
  if (!ids) return std::nullopt;
  return User{std::move(*ids)};
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
