#pragma once
// The catalog iteration of the folder lister: a folder's own entries, one
// at a time, each with its own kind (never that of a link's target).

#include <dirent.h>

#include <optional>
#include <string>

namespace tavo {

/// The folder's location with every symbolic link resolved (realpath), or
/// nullopt when it cannot be resolved (missing, a loop of links, a NUL).
std::optional<std::string> resolveFolderPath(const std::string& path);

class FolderCatalog {
 public:
  struct Entry {
    std::string name;  // the raw bytes the file system gives
    bool isFolder = false;
  };

  FolderCatalog() = default;
  ~FolderCatalog();
  FolderCatalog(const FolderCatalog&) = delete;
  FolderCatalog& operator=(const FolderCatalog&) = delete;

  /// Opens `folder`; 0 on success, otherwise the errno of the failure.
  int open(const std::string& folder);

  /// The next entry ("." and ".." left out); false at the end of the folder,
  /// on a read error, or when nothing is open.
  bool next(Entry& entry);

 private:
  DIR* dir_ = nullptr;
};

}  // namespace tavo
