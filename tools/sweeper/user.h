#pragma once
// The user sweeper acts for. It runs as root, but creates, opens and judges
// what belongs to the user with that user's file-system ids, so that it makes
// nothing and moves nothing the user could not make or move themselves.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "base/as_user.h"
#include "base/home.h"
#include "tools/sweeper/tree.h"

namespace tavo {

struct User : UserIds {
  TreeOwner owner() const { return TreeOwner{uid, gid}; }
};

/// The user with the id `uid`; nullopt when the password database does not
/// know them or gives no absolute home folder.
std::optional<User> lookUpUser(uid_t uid);

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
