#pragma once
// Users' home folders and ids, found the same way wherever one is needed.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tavo {

/// The home folder of the user who runs the process: $HOME when it is an
/// absolute path, else the password database's entry for the real user id;
/// nullopt when neither gives an absolute path.
std::optional<std::string> homeFolder();

/// The password database's home folder of the user named `user`, or of the
/// user id `uid`; nullopt when there is no such user or no absolute home.
std::optional<std::string> homeFolderOf(const std::string& user);
std::optional<std::string> homeFolderOf(uid_t uid);

/// The primary group of the user id `uid`; nullopt when it is unknown.
std::optional<gid_t> primaryGroupOf(uid_t uid);

/// A user as the password database gives them.
struct UserIds {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary, as a login of theirs has them
  std::string home;           // absolute
};

/// The user with the id `uid`, or named `name`; nullopt when the password
/// database does not know them, gives no absolute home folder, or their
/// groups cannot be listed.
std::optional<UserIds> userIdsOf(uid_t uid);
std::optional<UserIds> userIdsNamed(const std::string& name);

}  // namespace tavo
