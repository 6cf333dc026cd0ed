#pragma once
// Users' home folders, found the same way wherever one is needed.

#include <sys/types.h>

#include <optional>
#include <string>

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

}  // namespace tavo
