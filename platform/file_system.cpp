#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/folder_walk.h"

namespace tavo {

bool fileExistsAtPath(const std::string& path, bool* isDirectory) {
  struct stat st;
  if (path.find('\0') != std::string::npos) return false;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

void subpathsAtPath(const std::string& folder, const std::function<void(const Subpath&)>& visit,
                    const std::atomic<bool>* cancelled) {
  FolderWalk walk;
  if (walk.open(folder) != 0) return;
  std::size_t relativeAt = 0;
  walk.walk(
      [&](const FolderWalk::Entry& entry) {
        if (entry.depth == 0) relativeAt = entry.nameAt;
        Subpath item{entry.path, relativeAt};
        struct stat st;
        switch (entry.kind) {
          case EntryKind::Folder:
            item.exists = item.isDirectory = true;
            break;
          case EntryKind::Other:
            item.exists = true;
            break;
          case EntryKind::Link:  // what it points to decides
            if (::fstatat(entry.folderFd, entry.cName(), &st, 0) == 0) {
              item.exists = true;
              item.isDirectory = S_ISDIR(st.st_mode);
            }
            break;
          case EntryKind::Vanished:
            break;
        }
        visit(item);
        return entry.kind == EntryKind::Folder;
      },
      cancelled);
}

}  // namespace tavo
