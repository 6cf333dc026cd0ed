#include "platform/folder_catalog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tavo {

std::optional<std::string> resolveFolderPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

FolderCatalog::~FolderCatalog() {
  if (dir_) ::closedir(dir_);
}

int FolderCatalog::open(const std::string& folder) {
  if (dir_) ::closedir(dir_);
  dir_ = ::opendir(folder.c_str());
  if (dir_) return 0;
  return errno != 0 ? errno : EIO;
}

bool FolderCatalog::next(Entry& entry) {
  if (!dir_) return false;
  for (;;) {
    const dirent* found = ::readdir(dir_);
    if (!found) return false;
    std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    entry.name = std::move(name);
    if (found->d_type != DT_UNKNOWN) {
      entry.isFolder = found->d_type == DT_DIR;
      return true;
    }
    struct stat st;
    entry.isFolder = ::fstatat(::dirfd(dir_), found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISDIR(st.st_mode);
    return true;
  }
}

}  // namespace tavo
