#pragma once
// The user sweeper acts for. It runs as root, but creates, opens and judges
// what belongs to the user with that user's file-system ids, so that it makes
// nothing and moves nothing the user could not make or move themselves.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/sweeper/tree.h"

namespace tavo {

struct User {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary, as a login of theirs has them
  std::string home;           // from the password database

  TreeOwner owner() const { return TreeOwner{uid, gid}; }
};

/// The user with the id `uid`; nullopt when the password database does not
/// know them or gives no absolute home folder.
std::optional<User> lookUpUser(uid_t uid);

/// The user's file-system ids and groups for the scope, so that the kernel
/// checks what the process does as it would for that user; nothing to do
/// when the process already runs as them. ok() is false when the switch
/// failed: the caller must then act as if the user were refused.
class AsUser {
 public:
  explicit AsUser(const User& user);
  ~AsUser();
  AsUser(const AsUser&) = delete;
  AsUser& operator=(const AsUser&) = delete;
  bool ok() const { return ok_; }

 private:
  bool switched_ = false;
  bool ok_ = true;
  std::vector<gid_t> saved_;
};

/// Whether `user` could move the entry `name` (looked at as `st`) out of the
/// folder held by `parent`, whose resolved location is `parentPath`, by
/// themselves: they reach and may write the folder, its sticky bit lets them,
/// and a folder that changes parents is writable by them, as rename(2) asks.
bool userMayMove(const User& user, int parent, const std::string& parentPath,
                 const std::string& name, const struct stat& st);

/// Whether `user` could put an entry into the folder held by `parent`, whose
/// resolved location is `parentPath`, by themselves: they reach it, and may
/// write and search it.
bool userMayPlace(const User& user, int parent, const std::string& parentPath);

}  // namespace tavo
