#pragma once
#include <string>

namespace tavo {

/// The current user's home folder: $HOME, else the password database.
std::string currentHomeFolder();

/// The current user's Trash: $XDG_DATA_HOME/Trash when that is an absolute
/// path, else ~/.local/share/Trash.
std::string currentUserTrash();

}  // namespace tavo
