#pragma once
// The per-user folders the application works with, derived from the home
// folder it was given.

#include <string>

namespace tavo {

/// The user's home Trash: $XDG_DATA_HOME/Trash when that is an absolute
/// path, else `home`/.local/share/Trash.
std::string homeTrashFolder(const std::string& home);

/// The home Trash of the user whose home is `home` as the freedesktop.org
/// default puts it, whatever this process's environment says: for root
/// acting for another user, whose own XDG_DATA_HOME it cannot know.
std::string defaultHomeTrashFolder(const std::string& home);

/// Where the records of the user's removals are kept:
/// $XDG_DATA_HOME/TAVO_Uninstaller/removals when that is an absolute path,
/// else `home`/.local/share/TAVO_Uninstaller/removals.
std::string removalRecordsFolder(const std::string& home);
/// The same from `home` alone, for root acting for another user.
std::string defaultRemovalRecordsFolder(const std::string& home);

/// A folder private to the user for files handed to the helpers:
/// $XDG_RUNTIME_DIR/TAVO_Uninstaller when that is an absolute path, else
/// `home`/.cache/TAVO_Uninstaller. It need not exist yet.
std::string privateFolder(const std::string& home);

}  // namespace tavo
