#pragma once
// The per-user folders the application works with, derived from the home
// folder it was given.

#include <string>

namespace tavo {

/// The user's home Trash: $XDG_DATA_HOME/Trash when that is an absolute
/// path, else `home`/.local/share/Trash.
std::string homeTrashFolder(const std::string& home);

/// Where the records of the user's removals are kept:
/// $XDG_DATA_HOME/TAVO_Uninstaller/removals when that is an absolute path,
/// else `home`/.local/share/TAVO_Uninstaller/removals.
std::string removalRecordsFolder(const std::string& home);

/// A folder private to the user for files handed to the helpers:
/// $XDG_RUNTIME_DIR/TAVO_Uninstaller when that is an absolute path, else
/// `home`/.cache/TAVO_Uninstaller. It need not exist yet.
std::string privateFolder(const std::string& home);

}  // namespace tavo
